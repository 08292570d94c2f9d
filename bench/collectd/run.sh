#!/usr/bin/env bash
# Cost of veloxd-collectd on the router's budget (a benchmark, not a test):
# private dirty memory and CPU per interval of the source beside veloxd's
# own, and the bus messages it sends per round.
#
# In the e2e sandbox, with veloxd, our ubusd and traffic on the LAN ports,
# the source runs as collectd's exec plugin would, its output drained:
#   1. SECONDS (default 30) at COLLECTD_INTERVAL=1: resident and private
#      dirty memory of the source and of veloxd at the end, CPU per second;
#   2. 10 s at an interval of 20 ms: CPU time per round of the source, and
#      veloxd's per second (the scheduler's count, /proc/PID/task/*/schedstat);
#   3. with strace, if installed: the messages sent on the bus per round.
#
#   bench/collectd/run.sh [SECONDS]       (root, or unprivileged user namespaces)
# Build directory: $VELOXD_BUILD (default build/main, built with the tests).
set -eu
here=$(cd "$(dirname "$0")" && pwd)
top=$(cd "$here/../.." && pwd)
seconds=${1:-30}
case "$seconds" in
'' | *[!0-9]* | 0 | ?) echo "usage: $0 [SECONDS >= 10]" >&2; exit 2;;
esac
# shellcheck source=../../tools/sandbox.sh
. "$top/tools/sandbox.sh"

if [ -z "${VX_IN_NS:-}" ]; then
	b=${VELOXD_BUILD:-$top/build/main}
	vx_build_programs "$b"
	for v in VX_BIN_UBUSD VX_BIN_UBUS VX_BIN_UCI VX_BIN_VELOXD VX_BIN_TRAFGEN VX_LIB_SWITCHSIM VX_BIN_COLLECTD_SOURCE; do
		[ -f "${!v}" ] || { echo "no ${!v}: build $b first (cmake --build $b)" >&2; exit 1; }
	done
	vx_reexec_in_ns "$0" "$seconds"
fi

vx_sandbox_up
sync
vx_start_ubusd
vx_start_veloxd /tmp/veloxd.log
vx_traffic host1 br-lan 256000 >/dev/null
vx_traffic br-lan host2 640000 >/dev/null
export COLLECTD_HOSTNAME=router1

kib() { awk -v k="$2" '$1 == k ":" { print $2 }' "$1"; }
# CPU time of all threads in ns (the scheduler's own count, finer than ticks).
cpu_ns() { cat /proc/"$1"/task/*/schedstat | awk '{ s += $1 } END { printf "%.0f", s }'; }

# start INTERVAL: the source, its output counted by a drain; SRC, LINES
start() {
	rm -f /tmp/lines
	COLLECTD_INTERVAL=$1 "$VX_BIN_COLLECTD_SOURCE" > >(wc -l >/tmp/lines) &
	SRC=$!
}
stop() {
	kill -TERM "$SRC"
	wait "$SRC" || true
	vx_wait_for 5 test -s /tmp/lines
	LINES=$(cat /tmp/lines)
}

start 1
p0=$(cpu_ns "$VX_VELOXD_PID")
sleep "$seconds"
p1=$(cpu_ns "$VX_VELOXD_PID")
q1=$(cpu_ns "$SRC")
printf '%-16s %8s %18s %8s\n' program rss_KiB private_dirty_KiB threads
for p in veloxd-collectd:$SRC veloxd:$VX_VELOXD_PID; do
	pid=${p#*:}
	printf '%-16s %8s %18s %8s\n' "${p%%:*}" "$(kib /proc/$pid/smaps_rollup Rss)" \
		"$(kib /proc/$pid/smaps_rollup Private_Dirty)" "$(kib /proc/$pid/status Threads)"
done
stop
echo "in $seconds s at interval 1 s: $((LINES / 10)) rounds of 10 lines"
awk -v s="$q1" -v v=$((p1 - p0)) -v n="$seconds" 'BEGIN {
	printf "CPU per second: veloxd-collectd %.3f ms (start-up included), veloxd %.3f ms\n", s / 1e6 / n, v / 1e6 / n }'

start 0.020
v0=$(cpu_ns "$VX_VELOXD_PID")
sleep 10
s1=$(cpu_ns "$SRC")
v1=$(cpu_ns "$VX_VELOXD_PID")
stop
rounds=$((LINES / 10))
echo
awk -v t="$s1" -v r="$rounds" 'BEGIN { printf "veloxd-collectd: %d rounds, CPU %.3f ms per round (%.1f ms in all)\n", r, t / 1e6 / r, t / 1e6 }'
awk -v t=$((v1 - v0)) 'BEGIN { printf "veloxd meanwhile: CPU %.2f ms per second (its sampler and the 250 calls a second it answered)\n", t / 1e6 / 10 }'

if command -v strace >/dev/null; then
	echo
	COLLECTD_INTERVAL=0.2 timeout -s TERM 2.1 strace -s 64 -e trace=sendto,sendmsg -o /tmp/strace \
		"$VX_BIN_COLLECTD_SOURCE" >/dev/null || true
	bus=$(grep -E -c '^send(to|msg)\(' /tmp/strace || true)
	rounds=$(grep -c 'get_interface_list' /tmp/strace || true)
	lookups=$(grep -E '^send(to|msg)\(' /tmp/strace | grep -c -v 'get_' || true)
	echo "bus messages sent: $bus in $rounds rounds, $lookups of them lookups:" \
		"$(awk -v b="$bus" -v l="$lookups" -v r="$rounds" 'BEGIN { printf "%.2f", (b - l) / r }') calls per round"
fi
