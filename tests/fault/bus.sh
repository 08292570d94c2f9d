#!/usr/bin/env bash
# ubusd killed under a running veloxd, with restart loops standing in for
# the init system: veloxd logs the loss and exits, both come back, and the
# object answers again within a second of the kill, three times over.
here=$(cd "$(dirname "$0")" && pwd)
. "$here/lib.sh"
vx_reexec_in_ns "$here/bus.sh" "$@"
vx_sandbox_up

# respawn PIDFILE CMD...: run CMD again whenever it ends, as the init system
# would, once the bus socket is there; the running one's pid is in PIDFILE.
respawn() {
	local pidfile=$1
	shift
	while :; do
		[ "$1" = ubusd_once ] || vx_wait_for 5 test -S "$VX_SOCK"
		"$@" &
		echo $! >"$pidfile"
		wait $!
		sleep 0.02
	done
}
ubusd_once() {
	rm -f "$VX_SOCK"
	exec "$VX_BIN_UBUSD" -s "$VX_SOCK"
}
veloxd_once() {
	# shellcheck disable=SC2046
	exec env $(vx_switch_env) "$VX_BIN_VELOXD" >>"$FX_LOG" 2>&1
}
respawn /run/ubusd.pid ubusd_once &
respawn /run/veloxd.pid veloxd_once &
vx_wait_for 5 vx_object_listed || vx_die "veloxd did not come up: $(cat "$FX_LOG")"
g=$(vx_traffic host1 br-lan 256000)
sleep 2.2

answers() {
	[ "$(fx_ubus -S call veloxd test 2>/dev/null)" = '{"error_code":0}' ]
}
for round in 1 2 3; do
	old=$(cat /run/veloxd.pid)
	t0=$(fx_now_ms)
	kill -KILL "$(cat /run/ubusd.pid)"
	# The object of the old veloxd is gone with the old ubusd.
	for i in $(seq 250); do answers && break; sleep 0.02; done
	ms=$(($(fx_now_ms) - t0))
	vx_expect_true "round $round: the object answers again within 1000 ms of the kill (${ms} ms)" test "$ms" -le 1000
	vx_expect_true "round $round: served by a new veloxd" test "$(cat /run/veloxd.pid)" != "$old"
	vx_expect_true "round $round: the old veloxd has exited" eval "! kill -0 $old 2>/dev/null"
	sleep 1
done
vx_expect_eq "each loss is logged once" \
	"$(fx_lines '^\[ERROR\] [a-z_]+\([0-9]+\) : Lost connection to ubusd$')" 3

fx_speed_near "port 1 receive speed right again" 0 rx 2000
fx_prompt "after the restarts"
fx_stop "$g"
sleep 2.2
vx_expect_eq "port 1 received-byte total matches the port" "$(fx_field 0 rx_bytes)" \
	"$(cat /sys/class/net/swp1/statistics/rx_bytes)"
vx_expect_eq "bridge received-byte total matches the bridge" "$(fx_field 9 rx_bytes)" \
	"$(cat /sys/class/net/br-lan/statistics/rx_bytes)"
vx_done
