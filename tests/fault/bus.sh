#!/usr/bin/env bash
# ubusd killed under a running veloxd, with restart loops standing in for
# the init system: veloxd logs the loss and exits at once, before its sampler
# has begun a second pass, both come back, and the object answers again,
# three times over.
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
# Each veloxd logs its switch requests, one per pass for port 1, apart.
veloxd_once() {
	# shellcheck disable=SC2046
	exec env $(vx_switch_env) SWITCHSIM_LOG=/tmp/requests.$BASHPID "$VX_BIN_VELOXD" >>"$FX_LOG" 2>&1
}
passes() { # passes PID: sampling passes veloxd PID has begun
	grep -c '^port=1 ' "/tmp/requests.$1" 2>/dev/null || echo 0
}
respawn /run/ubusd.pid ubusd_once &
respawn /run/veloxd.pid veloxd_once &
vx_wait_for 20 vx_object_listed || vx_die "veloxd did not come up: $(cat "$FX_LOG")"
g=$(vx_traffic host1 br-lan 256000)
sleep 2.2

answers() {
	[ "$(fx_ubus -S call veloxd test 2>/dev/null)" = '{"error_code":0}' ]
}
for round in 1 2 3; do
	old=$(cat /run/veloxd.pid)
	bus=$(cat /run/ubusd.pid)
	before=$(passes "$old")
	kill -KILL "$bus"
	# The object of the old veloxd is gone with the old ubusd.
	vx_wait_for 20 eval "! kill -0 $bus" || vx_die "ubusd $bus outlived SIGKILL"
	vx_expect_true "round $round: the object answers again" vx_wait_for 20 answers
	vx_expect_true "round $round: served by a new veloxd" vx_wait_for 20 eval '[ "$(cat /run/veloxd.pid)" != '"$old"' ]'
	vx_expect_true "round $round: the old veloxd has exited" vx_wait_for 20 eval "! kill -0 $old"
	# One pass may have been under way at the kill; a veloxd that waited for
	# anything but the hang-up would begin more.
	after=$(passes "$old")
	vx_expect_true "round $round: the old veloxd exited before a second pass ($before -> $after)" \
		test "$after" -le $((before + 1))
	sleep 1
done
vx_expect_eq "each loss is logged once" \
	"$(fx_lines '^\[ERROR\] [a-z_]+\([0-9]+\) : Lost connection to ubusd$')" 3

fx_speed_near "port 1 receive speed right again" 0 rx 2000
fx_prompt "after the restarts"
fx_stop "$g"
fx_settled "port 1 received-byte total matches the port" 0 rx_bytes "$(fx_counter swp1 rx_bytes)"
fx_settled "bridge received-byte total matches the bridge" 9 rx_bytes "$(fx_counter br-lan rx_bytes)"
vx_done
