#!/usr/bin/env bash
# Life of the process against the bus daemon: no ubusd at start, a second
# veloxd, and ubusd going away under a running veloxd. The daemon's sampling
# passes are counted through the switch stand-in's log of port 1 requests,
# one at the end of each pass.
here=$(cd "$(dirname "$0")" && pwd)
. "$here/../../tools/sandbox.sh"
. "$here/check.sh"
vx_reexec_in_ns "$here/lifecycle.sh" "$@"
vx_sandbox_up

run_veloxd() { # run_veloxd LOG: run in the foreground, at most 10 s
	# shellcheck disable=SC2046
	env $(vx_switch_env) timeout 10 "$VX_BIN_VELOXD" >"$1" 2>&1
}

# passes LOG: sampling passes begun by the veloxd logging to LOG
passes() {
	grep -c '^port=1 ' "$1" 2>/dev/null || echo 0
}

# wait_exit PID SECONDS: status of PID if it ends in time, else 124
wait_exit() {
	local n=$(($2 * 20))
	while kill -0 "$1" 2>/dev/null; do
		n=$((n - 1))
		if [ "$n" -le 0 ]; then
			kill -KILL "$1"
			wait "$1" 2>/dev/null
			return 124
		fi
		sleep 0.05
	done
	wait "$1"
}

# No bus daemon: both messages, in order, then exit 0 at once.
run_veloxd /tmp/nobus.log
vx_expect_eq "no ubusd: exit status 0" "$?" 0
vx_expect_match "no ubusd: the two messages in order" "$(cat /tmp/nobus.log)" \
	"^\[ERROR\] ubus_init\([0-9]+\) : Connnect to ubusd failed

\[ERROR\] rpc_run\([0-9]+\) : Initialise ubus failed\$"

# A second veloxd while one serves: registration refused, exit 0, the first keeps serving.
vx_start_ubusd
vx_start_veloxd /tmp/first.log SWITCHSIM_LOG=/tmp/first.req
run_veloxd /tmp/second.log
vx_expect_eq "second veloxd: exit status 0" "$?" 0
vx_expect_match "second veloxd: registration refused" "$(cat /tmp/second.log)" \
	"\[ERROR\] rpc_run\([0-9]+\) : Register RPC methods failed"
vx_expect_eq "first veloxd still answers" "$(vx_ubus -S call veloxd test)" '{"error_code":0}'

# ubusd stopped cleanly under a running veloxd: it leaves its loop and exits 0,
# at once: one pass may be under way, a veloxd waiting for anything but the
# hang-up would begin more.
before=$(passes /tmp/first.req)
kill -TERM "$VX_UBUSD_PID"
wait "$VX_UBUSD_PID"
wait_exit "$VX_VELOXD_PID" 30
vx_expect_eq "ubusd stopped: veloxd exits 0" "$?" 0
vx_expect_true "ubusd stopped: veloxd exits before a second pass" test "$(passes /tmp/first.req)" -le $((before + 1))
vx_expect_match "ubusd stopped: the loss is logged" "$(cat /tmp/first.log)" "\[ERROR\] [a-z_]+\([0-9]+\) : Lost connection to ubusd"

# ubusd killed outright: the same.
vx_start_ubusd
vx_start_veloxd /tmp/third.log SWITCHSIM_LOG=/tmp/third.req
before=$(passes /tmp/third.req)
kill -KILL "$VX_UBUSD_PID"
wait "$VX_UBUSD_PID" 2>/dev/null
wait_exit "$VX_VELOXD_PID" 30
vx_expect_eq "ubusd killed: veloxd exits 0" "$?" 0
vx_expect_true "ubusd killed: veloxd exits before a second pass" test "$(passes /tmp/third.req)" -le $((before + 1))

# A supervisor restarting veloxd after ubusd came back gets a serving daemon.
vx_start_ubusd
vx_start_veloxd /tmp/fourth.log
vx_expect_eq "restarted veloxd serves" "$(vx_ubus -S call veloxd test)" '{"error_code":0}'

# SIGTERM ends the loop; the process exits 0.
kill -TERM "$VX_VELOXD_PID"
wait_exit "$VX_VELOXD_PID" 30
vx_expect_eq "SIGTERM: exit status 0" "$?" 0

# Killed outright by its supervisor: the lines it printed reach its log all
# the same (stdout is a file here, as a pipe is under a supervisor).
vx_start_veloxd /tmp/fifth.log SWITCHSIM_LOG=/tmp/fifth.req
vx_uci delete opmode.op.mode && vx_uci commit opmode
# Two passes later the second has read the deleted mode and said so.
want=$(($(passes /tmp/fifth.req) + 2))
vx_wait_for 30 eval '[ "$(passes /tmp/fifth.req)" -ge '"$want"' ]' || vx_die "sampling stopped"
kill -KILL "$VX_VELOXD_PID"
wait "$VX_VELOXD_PID" 2>/dev/null
vx_expect_match "SIGKILL: the error lines printed before are kept" "$(cat /tmp/fifth.log)" \
	"\[ERROR\] check_wlan_mode\([0-9]+\) : Unsupported wlan opmode"
vx_done
