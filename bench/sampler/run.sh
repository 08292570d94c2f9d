#!/usr/bin/env bash
# Instructions per sampler cycle (one mode check plus one pass), counted by
# callgrind inside bench_cycles() only. Needs root (namespaces) and valgrind.
# Target: parse_dev_proc at most 32590, 10 % over the 29627 it took before
# the pass kept a history.
#
# Usage: bench/sampler/run.sh [BUILD_DIR] [CYCLES]   (default build/main, 200)
set -eu
here=$(cd "$(dirname "$0")" && pwd)
top=$(cd "$here/../.." && pwd)
build=$(cd "${1:-$top/build/main}" && pwd)
cycles=${2:-200}
bench=$(find "$build" -type f -name sampler_bench -perm -u+x | head -n 1)
switchsim=$build/host/switch/libswitchsim.so
[ -n "$bench" ] && [ -f "$switchsim" ] || { echo "sampler_bench or libswitchsim.so not built in $build" >&2; exit 1; }

# not under /tmp: the benchmark mounts a private tmpfs there
out=$(mktemp "$build/callgrind.sampler.XXXXXX")
trap 'rm -f "$out" "$out.log"' EXIT

echo "== wall clock (no valgrind)"
LD_PRELOAD=$switchsim "$bench" "$cycles"

echo "== callgrind"
if ! LD_PRELOAD=$switchsim valgrind --tool=callgrind --toggle-collect=bench_cycles \
	--callgrind-out-file="$out" "$bench" "$cycles" >"$out.log" 2>&1; then
	cat "$out.log" >&2
	exit 1
fi

# Inclusive instruction counts of the cycle and of its parts.
callgrind_annotate --inclusive=yes --threshold=100 "$out" 2>/dev/null | awk -v n="$cycles" '
	function count(s) { gsub(",", "", s); return s + 0 }
	/PROGRAM TOTALS/                          { total = count($1) }
	/:check_wlan_mode\(\) \[/ && !mode          { mode  = count($1) }
	/:parse_dev_proc\(\) \[/ && !pass           { pass  = count($1) }
	/:parse_dev_stat_line\(/ && !lines         { lines = count($1) }
	/:scan_dev_line\(/ && !scan                { scan  = count($1) }
	/:uci_get_conf \[/ && !uci                 { uci   = count($1) }
	/:get_curr_port_stat_data\(/ && !sw        { sw    = count($1) }
	/:history_sample\(/ && !hist              { hist  = count($1) }
	/switchsim\.c:ioctl \[/ && !sim            { sim   = count($1) }
	END {
		printf "instructions per cycle:           %d\n", total / n
		printf "  check_wlan_mode:                %d (uci_get_conf %d)\n", mode / n, uci / n
		printf "  parse_dev_proc:                 %d\n", pass / n
		printf "    parse_dev_stat_line, all lines: %d (scan_dev_line %d)\n", lines / n, scan / n
		printf "    get_curr_port_stat_data, both:  %d (switch stand-in %d)\n", sw / n, sim / n
		printf "    history_sample, every slot:     %d\n", hist / n
		printf "parse_dev_proc target 32590 (10 %% over 29627): %s\n", pass / n <= 32590 ? "met" : "MISSED"
		printf "per cycle without the stand-in:   %d (target 60000)\n", (total - sim) / n
	}'
