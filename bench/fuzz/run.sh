#!/usr/bin/env bash
# Runs every libFuzzer target of a build for a given time each and prints
# executions, coverage and findings per target.
#
#   bench/fuzz/run.sh [-t SECONDS] [-j 1|2] [-o OUTDIR] BUILD_DIR [NAME...]
#
#   -t  time per target (default 600)      -j  targets run at once (default 1)
#   -o  corpora, logs and findings (default BUILD_DIR/fuzz-runs); the corpus
#       of each target is kept there and grows from run to run
#   NAME  only these targets (default: all)
#
# A target is any executable in the build tree that defines
# LLVMFuzzerTestOneInput (configure with clang; VELOXD_FUZZ is on by
# default then). Next to the binary, optionally:
#   NAME.seeds  directory (or link to one) of seed inputs, read only
#   NAME.args   extra libFuzzer flags, one per line (e.g. -max_len=4096)
# Exit status: 0 when no target found anything, 1 otherwise, 2 on misuse.
set -u

secs=600 jobs=1 out=""
while getopts "t:j:o:" opt; do
	case $opt in
	t) secs=$OPTARG ;;
	j) jobs=$OPTARG ;;
	o) out=$OPTARG ;;
	*) exit 2 ;;
	esac
done
shift $((OPTIND - 1))
[ $# -ge 1 ] || { sed -n '4,8p' "$0" >&2; exit 2; }
build=$(cd "$1" && pwd) || exit 2
shift
out=${out:-$build/fuzz-runs}
mkdir -p "$out"

targets=()
while IFS= read -r f; do
	name=$(basename "$f")
	if [ $# -gt 0 ]; then
		case " $* " in *" $name "*) ;; *) continue ;; esac
	fi
	grep -q LLVMFuzzerTestOneInput "$f" 2>/dev/null && targets+=("$f")
done < <(find "$build" -path "$out" -prune -o -path '*/CMakeFiles' -prune -o \
	-type f -executable ! -name '*.so*' -print | sort)
if [ ${#targets[@]} -eq 0 ]; then
	echo "no fuzz targets in $build (configure with clang and -DVELOXD_FUZZ=ON)" >&2
	exit 2
fi

run_one() {
	local bin=$1 name dir args=()
	name=$(basename "$bin")
	dir=$out/$name
	mkdir -p "$dir/corpus"
	[ -f "$bin.args" ] && mapfile -t args < "$bin.args"
	local seeds=()
	[ -d "$bin.seeds" ] && seeds=("$bin.seeds")
	"$bin" "${args[@]}" -max_total_time="$secs" -print_final_stats=1 -artifact_prefix="$dir/" \
		"$dir/corpus" "${seeds[@]}" >"$dir/log" 2>&1
	echo $? >"$dir/status"
}

echo "fuzzing ${#targets[@]} target(s), $secs s each, $jobs at a time; output in $out"
running=0
for t in "${targets[@]}"; do
	if [ "$running" -ge "$jobs" ]; then
		wait -n
		running=$((running - 1))
	fi
	run_one "$t" &
	running=$((running + 1))
done
wait

found=0
printf '%-28s %12s %9s %7s %8s %8s %9s\n' target executions exec/s cov features corpus findings
for t in "${targets[@]}"; do
	name=$(basename "$t")
	dir=$out/$name
	execs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$dir/log" | tail -n 1)
	rate=$(sed -n 's/^stat::average_exec_per_sec: *//p' "$dir/log" | tail -n 1)
	last=$(grep -E '^#[0-9]+' "$dir/log" | grep 'cov:' | tail -n 1)
	cov=$(sed -n 's/.*cov: \([0-9]*\).*/\1/p' <<<"$last")
	ft=$(sed -n 's/.*ft: \([0-9]*\).*/\1/p' <<<"$last")
	corp=$(sed -n 's/.*corp: \([0-9]*\).*/\1/p' <<<"$last")
	n=$(find "$dir" -maxdepth 1 -type f \( -name 'crash-*' -o -name 'leak-*' -o -name 'timeout-*' \
		-o -name 'oom-*' \) | wc -l)
	status=$(cat "$dir/status" 2>/dev/null || echo 1)
	if [ "$status" != 0 ] && [ "$n" -eq 0 ]; then
		n="error"
	fi
	[ "$n" != 0 ] && found=1
	printf '%-28s %12s %9s %7s %8s %8s %9s\n' "$name" "${execs:-?}" "${rate:-?}" "${cov:-?}" "${ft:-?}" \
		"${corp:-?}" "$n"
done
[ "$found" = 0 ] || echo "findings and logs: $out/<target>/"
exit "$found"
