#!/usr/bin/env bash
# The switch failing for a while: requests for port 1 fail until the switch
# answers again. Each failure is reported, port 1 keeps its totals and reads
# zero speeds meanwhile, port 2 and the bus carry on, and once the switch
# answers again port 1 counts on from where it stood.
#
# Phases follow the requests the switch has seen, not the clock: the script
# the stand-in serves is rewritten as the case goes, and a figure is read
# only where the requests made before and after the read pin down which
# replies it holds.
here=$(cd "$(dirname "$0")" && pwd)
. "$here/lib.sh"
vx_reexec_in_ns "$here/switch.sh" "$@"
vx_sandbox_up
vx_start_ubusd

# Port 1 from a script: request k gets line k; every good request reports
# 128000 bytes received, 64000 sent (1000.00 and 500.00 a second).
good="rx_bytes=128000 rx_packets=125 tx_bytes=64000 tx_packets=63"
# port1_script GOOD FAILED [GOOD_AFTER]: the script the stand-in reads from now
# on, replaced in one step; after its last line every reply is all zeros.
port1_script() {
	{
		for ((i = 0; i < $1; i++)); do echo "$good"; done
		for ((i = 0; i < $2; i++)); do echo fail; done
		for ((i = 0; i < ${3:-0}; i++)); do echo "$good"; done
	} >/tmp/port1.new
	mv /tmp/port1.new /tmp/port1
}
port1_script 4 100000
vx_start_veloxd "$FX_LOG" SWITCHSIM_PORT1=script:/tmp/port1 SWITCHSIM_LOG=/tmp/requests
g=$(vx_traffic br-lan host2 640000)

requests() {
	grep -c '^port=1 ' /tmp/requests 2>/dev/null || echo 0
}
# after_request N: request N for port 1 has been made, so every pass before
# it is complete (a pass asks for port 1 and then port 2).
after_request() {
	vx_wait_for 60 eval '[ "$(requests)" -ge '"$1"' ]' || vx_die "switch requests stopped at $(requests)"
}
failed='^do eth ioctl failed: ifname = eth1, port no = '
port1() { # one reply for slot 0: its figures come from one pass
	fx_ubus call veloxd get_lan_port_info '{"interface1": 0}'
}
figures() { # figures REPLY NAME...
	local reply=$1 f out=""
	shift
	for f in "$@"; do out="$out $(vx_json_field "$reply" "$f")"; done
	echo "${out# }"
}

# Failing: requests 5 on fail until the script changes.
after_request 6
n1=$(requests)
reports=$(fx_lines "${failed}1\$")
reply=$(port1)
n2=$(requests)
# Requests up to n1 - 1 have been answered and reported, n2 at most.
vx_expect_true "failing: each failed request is reported ($reports, requests $n1..$n2)" \
	test "$reports" -ge $((n1 - 5)) -a "$reports" -le $((n2 - 4))
vx_expect_eq "failing: port 1 speeds read 0.00" "$(figures "$reply" rx_speed tx_speed)" "0.00 0.00"
vx_expect_eq "failing: port 1 keeps its totals" "$(figures "$reply" rx_bytes tx_bytes)" "512000 256000"
fx_speed_near "failing: port 2 transmit speed right" 1 tx 5000
fx_prompt "failing"

# The switch answers again from request last + 1: far enough ahead that the
# new script is in place before any request past the old one's failures is
# made. Twelve good replies, then zeros, so that the totals come to rest.
last=$(($(requests) + 10))
port1_script 4 $((last - 4)) 12
[ "$(requests)" -le "$last" ] || vx_die "the script was rewritten too late: $(requests) requests, failing up to $last"
fails=$((last - 4))

# Two good replies after the failures: speeds from two good readings.
after_request $((last + 3))
vx_expect_eq "recovered: every failure reported once, none for port 2" \
	"$(fx_lines "${failed}1\$") $(fx_lines "${failed}2\$")" "$fails 0"
reply=$(port1)
n2=$(requests)
[ "$n2" -le $((last + 12)) ] || vx_die "recovery window missed: $n2 requests before the speeds were read"
# A pass comes at least a second after the one before, and a pass late by
# most of a second still reads above the 500.00 of one reply over two passes.
rx=$(figures "$reply" rx_speed)
tx=$(figures "$reply" tx_speed)
vx_expect_true "recovered: port 1 receive speed of one reply a pass ($rx)" \
	awk -v s="$rx" 'BEGIN { exit !(s > 550 && s <= 1000.005) }'
vx_expect_true "recovered: port 1 sends half its receive speed ($tx, $rx)" \
	awk -v t="$tx" -v r="$rx" 'BEGIN { d = 2 * t - r; exit !(d <= 0.011 && d >= -0.011) }'
# Slot 2 is slot 0 + slot 1 of one pass; port 1 sends again, so its part shows.
sum_counts_port1() {
	local s0 s1 s2
	s0=$(fx_field 0 tx_speed) s1=$(fx_field 1 tx_speed) s2=$(fx_field 2 tx_speed)
	awk -v a="$s0" -v b="$s1" -v s="$s2" 'BEGIN { d = a + b - s; exit !(a > 0 && d < 0.015 && d > -0.015) }'
}
vx_expect_true "recovered: the wired total counts port 1 again" vx_wait_for 8 sum_counts_port1

# Past the script's end the replies add nothing: the totals are final.
after_request $((last + 14))
vx_expect_eq "recovered: port 1 totals are the sum of the good replies" \
	"$(figures "$(port1)" rx_bytes tx_bytes)" "$((16 * 128000)) $((16 * 64000))"
fx_stop "$g"
vx_done
