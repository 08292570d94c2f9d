# Helpers shared by the fault cases: the sandbox, the check lines, and
# measurements of what a fault must not disturb.
fx_dir=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
. "$fx_dir/../../tools/sandbox.sh"
. "$fx_dir/../e2e/check.sh"

FX_LOG=/tmp/veloxd.log

# Every call of a fault case is bounded: a stalled daemon fails the check
# instead of holding the test. The bound is far above what a call takes on a
# loaded machine: a call held up by the fault never gets its answer at all.
fx_ubus() {
	vx_ubus -t 10 "$@"
}

# fx_call METHOD [ARGS]: one call; the reply in FX_REPLY.
fx_call() {
	FX_REPLY=$(fx_ubus call veloxd "$@" 2>&1)
}

# fx_prompt NAME: every method answers while the fault still holds.
fx_prompt() {
	local m missing=""
	for m in test get_interface_list get_display_interface get_throughput; do
		fx_call "$m"
		[[ $FX_REPLY == "{"* ]] || missing="$missing $m:$FX_REPLY"
	done
	fx_call get_lan_port_info '{"interface1": 0}'
	[[ $FX_REPLY == *rx_speed* ]] || missing="$missing get_lan_port_info:$FX_REPLY"
	vx_expect_eq "$1: every method answers" "$missing" ""
}

# fx_field SLOT NAME: one figure of get_lan_port_info
fx_field() {
	vx_json_field "$(fx_ubus call veloxd get_lan_port_info "{\"interface1\": $1}")" "$2"
}

# fx_speed_near NAME SLOT DIR EXPECTED: the speed comes within 5% of EXPECTED
# in a few passes (a fault may leave one stale or averaged reading behind);
# given up after 20 s, ten times what it takes on a quiet machine.
fx_speed_near() {
	local i got
	for i in $(seq 40); do
		got=$(fx_field "$2" "$3_speed")
		if awk -v g="$got" -v e="$4" 'BEGIN { d = g - e; if (d < 0) d = -d; exit !(d <= e * 0.05) }'; then
			vx_ok "$1 ($got, expected $4 +-5%)"
			return
		fi
		sleep 0.5
	done
	vx_not_ok "$1" "got $got, expected $4 within 5%"
}

# fx_sampling NAME SLOT: the slot's received total still grows (the sampler runs)
fx_sampling() {
	local before i
	before=$(fx_field "$2" rx_bytes)
	for i in $(seq 30); do
		sleep 0.5
		[ "$(fx_field "$2" rx_bytes)" != "$before" ] && { vx_ok "$1: sampling goes on"; return; }
	done
	vx_not_ok "$1: sampling goes on" "slot $2 received total stuck at $before"
}

# fx_settled NAME SLOT FIELD WANT: with the traffic stopped, the slot's total
# comes to WANT within a few passes (given up after 20 s, ten times what that
# takes on a quiet machine).
fx_settled() {
	local want=$4 got i
	for i in $(seq 40); do
		got=$(fx_field "$2" "$3")
		[ "$got" = "$want" ] && break
		sleep 0.5
	done
	vx_expect_eq "$1" "$got" "$want"
}

# fx_lines PATTERN: how many lines of the daemon's output match
fx_lines() {
	grep -cE "$1" "$FX_LOG"
}

# fx_counter IFACE NAME: a kernel counter of the interface
fx_counter() {
	cat "/sys/class/net/$1/statistics/$2"
}

# fx_wait_lines SECONDS PATTERN COUNT: wait until at least COUNT lines match
fx_wait_lines() {
	vx_wait_for "$1" fx_at_least "$2" "$3"
}
fx_at_least() {
	[ "$(fx_lines "$1")" -ge "$2" ]
}

fx_stop() {
	kill "$@" 2>/dev/null
	wait "$@" 2>/dev/null
}
