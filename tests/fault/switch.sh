#!/usr/bin/env bash
# The switch failing for a while: requests for port 1 fail three times in a
# row. Each failure is reported, port 1 keeps its totals and reads zero
# speeds meanwhile, port 2 and the bus carry on, and once the switch answers
# again port 1 counts on from where it stood.
here=$(cd "$(dirname "$0")" && pwd)
. "$here/lib.sh"
vx_reexec_in_ns "$here/switch.sh" "$@"
vx_sandbox_up
vx_start_ubusd

# Port 1 from a script: request k gets line k; every good request reports
# 128000 bytes received, 64000 sent (1000.00 and 500.00 a second).
good="rx_bytes=128000 rx_packets=125 tx_bytes=64000 tx_packets=63"
{
	for i in 1 2 3 4; do echo "$good"; done
	for i in 1 2 3; do echo fail; done
	for i in $(seq 200); do echo "$good"; done
} >/tmp/port1
vx_start_veloxd "$FX_LOG" SWITCHSIM_PORT1=script:/tmp/port1 SWITCHSIM_LOG=/tmp/requests
g=$(vx_traffic br-lan host2 640000)

requests() {
	grep -c '^port=1 ' /tmp/requests 2>/dev/null || echo 0
}
# after_request N: just after the pass that made request N for port 1
after_request() {
	vx_wait_for 15 eval '[ "$(requests)" -ge '"$1"' ]' || vx_die "switch requests stopped at $(requests)"
	sleep 0.3
}
failed='^do eth ioctl failed: ifname = eth1, port no = '

after_request 6
n=$(requests)
vx_expect_eq "failing: each failed request is reported" "$(fx_lines "${failed}1\$")" $(((n < 7 ? n : 7) - 4))
vx_expect_eq "failing: port 1 speeds read 0.00" "$(fx_field 0 rx_speed) $(fx_field 0 tx_speed)" "0.00 0.00"
vx_expect_eq "failing: port 1 keeps its totals" "$(fx_field 0 rx_bytes) $(fx_field 0 tx_bytes)" "512000 256000"
fx_speed_near "failing: port 2 transmit speed right" 1 tx 5000
fx_prompt "failing"

after_request 11
vx_expect_eq "recovered: three failures reported, none for port 2" \
	"$(fx_lines "${failed}1\$") $(fx_lines "${failed}2\$")" "3 0"
for try in 1 2 3; do
	n=$(requests)
	got="$(fx_field 0 rx_bytes) $(fx_field 0 tx_bytes)"
	[ "$n" = "$(requests)" ] && break
	sleep 0.3
done
vx_expect_eq "recovered: port 1 totals are the sum of the good replies" \
	"$got" "$(((n - 3) * 128000)) $(((n - 3) * 64000))"
# A pass comes a little over a second after the one before.
rx=$(fx_field 0 rx_speed)
vx_expect_true "recovered: port 1 receive speed near 1000.00 ($rx)" \
	awk -v s="$rx" 'BEGIN { exit !(s > 800 && s <= 1001) }'
thr=$(fx_ubus call veloxd get_lan_port_info '{"interface1": 2}')
vx_expect_true "recovered: the wired total counts port 1 again" \
	awk -v s="$(vx_json_field "$thr" tx_speed)" 'BEGIN { exit !(s > 5300) }'
fx_stop "$g"
vx_done
