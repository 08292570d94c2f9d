#!/usr/bin/env bash
# Instructions per call of the JSON formatter and parser (callgrind, counted
# inside bench_run() only), for the library as it is in the work tree and as
# it was at an older revision, both compiled here with the same flags, and the
# ratio of the two. Then the timed run of the work tree's library.
#
# Usage: bench/json/run.sh [BUILD_DIR] [BASE_REV]   (default build/main, da0cf7c)
set -eu
here=$(cd "$(dirname "$0")" && pwd)
top=$(cd "$here/../.." && pwd)
build=$(cd "${1:-$top/build/main}" && pwd)
rev=${2:-da0cf7c}
bench=$(find "$build" -type f -name json_bench -perm -u+x | head -n 1)
[ -n "$bench" ] || { echo "json_bench not built in $build" >&2; exit 1; }
command -v valgrind >/dev/null || { echo "valgrind is missing" >&2; exit 1; }

tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
src=host/libubox/src/blobmsg_json.c

# the same compiler and flags for both, so that only the source differs
lib() {
	mkdir -p "$tmp/$1"
	cc -O2 -g -DNDEBUG -fPIC -shared -std=gnu11 -I"$top/host/libubox/include" \
		$(pkg-config --cflags json-c) -o "$tmp/$1/libblobmsg_json.so" "$2" \
		-L"$build/lib" -lubox $(pkg-config --libs json-c)
}
lib after "$top/$src"
have_before=0
if git -C "$top" show "$rev:$src" >"$tmp/before.c" 2>/dev/null; then
	lib before "$tmp/before.c"
	have_before=1
else
	echo "revision $rev not in this clone: no comparison" >&2
fi

count() { # DIR CASE N -> instructions per call
	LD_LIBRARY_PATH="$tmp/$1:$build/lib" valgrind --tool=callgrind --collect-atstart=no \
		--toggle-collect=bench_run --callgrind-out-file="$tmp/cg.out" \
		"$bench" -n "$3" "$2" >/dev/null 2>"$tmp/cg.log" || { cat "$tmp/cg.log" >&2; exit 1; }
	# the warm-up call is counted too
	callgrind_annotate "$tmp/cg.out" 2>/dev/null | awk -v n="$3" \
		'/PROGRAM TOTALS/ { gsub(",", "", $1); printf "%d", $1 / (n + 1) }'
}

echo "== instructions per call (callgrind); before = $rev"
printf "%-11s %12s %12s %8s\n" case before after ratio
for c in format-200 format-4k format-64k parse-200 parse-4k parse-64k; do
	case $c in *-64k) n=20 ;; *-4k) n=200 ;; *) n=2000 ;; esac
	a=$(count after "$c" "$n")
	if [ "$have_before" = 1 ]; then
		b=$(count before "$c" "$n")
		printf "%-11s %12d %12d %8.2f\n" "$c" "$b" "$a" "$(awk -v a="$a" -v b="$b" 'BEGIN { print a / b }')"
	else
		printf "%-11s %12s %12d\n" "$c" - "$a"
	fi
done

echo "== wall clock, work tree's library"
LD_LIBRARY_PATH="$tmp/after:$build/lib" "$bench"
