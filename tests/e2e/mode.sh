#!/usr/bin/env bash
# Wireless mode changes made with the uci tool, as an administrator would:
# the interface list, the wireless slots and the display selections follow.
here=$(cd "$(dirname "$0")" && pwd)
. "$here/../../tools/sandbox.sh"
. "$here/check.sh"
vx_reexec_in_ns "$here/mode.sh" "$@"
vx_sandbox_up
vx_start_ubusd
vx_start_veloxd /tmp/veloxd.log

display() {
	vx_ubus -S call veloxd get_display_interface
}
list() {
	vx_ubus -S call veloxd get_interface_list
}
rx_speed() {
	vx_json_field "$(vx_ubus call veloxd get_lan_port_info "{\"interface1\": $1}")" rx_speed
}
set_mode() { # as an administrator types it
	vx_uci set "opmode.op.mode=$1" && vx_uci commit
}
rx_bytes() {
	vx_json_field "$(vx_ubus call veloxd get_lan_port_info "{\"interface1\": $1}")" rx_bytes
}
# counting SLOT: "counting" when the slot's received total grows across a pass
counting() {
	local before
	before=$(rx_bytes "$1")
	sleep 1.1
	[ "$(rx_bytes "$1")" != "$before" ] && echo counting || echo idle
}
counting3() { counting 3; }
counting7() { counting 7; }
# within SECONDS NAME CMD EXPECTED: CMD prints EXPECTED before SECONDS pass
within() {
	local limit=$1 name=$2 cmd=$3 want=$4 got start=$SECONDS
	local deadline=$(($(date +%s%N) + limit * 1000000000))
	while :; do
		got=$($cmd)
		if [ "$got" = "$want" ]; then
			vx_ok "$name"
			return
		fi
		if [ "$(date +%s%N)" -gt "$deadline" ]; then
			vx_not_ok "$name" "expected within ${limit}s: $want" "got: $got"
			return
		fi
		sleep 0.05
	done
}

# Frames on both wireless interfaces; only the slot of the current mode counts them.
R=128000
g3=$(vx_traffic sta0 br-lan $R)
g7=$(vx_traffic sta7 br-lan $R)

vx_expect_eq "mode ap lists slot 3" "$(list)" '{"list":[0,1,2,3,9]}'
vx_ubus call veloxd set_display_interface '{"interface1": 3}' >/dev/null
vx_expect_eq "both selections on the ap slot" "$(display)" '{"interface1":3,"interface2":3}'
sleep 3
vx_within "ap slot counts its traffic" "$(rx_speed 3)" "$(awk -v r=$R 'BEGIN { print r * 8 / 1024 }')" 5
vx_expect_eq "client slot is not sampled in mode ap" "$(rx_speed 7)" "0.00"

set_mode client
within 2 "mode client: the list names slot 7" list '{"list":[0,1,2,7,9]}'
within 2 "mode client: both selections move from 3 to 7" display '{"interface1":7,"interface2":7}'
# A pass ends at most about a second after the flip; the probe itself takes 1.1 s.
within 2 "mode client: slot 7 counts" counting7 counting
vx_expect_eq "mode client: slot 3 no longer counts" "$(counting 3)" idle
sleep 3
vx_within "client slot counts its traffic" "$(rx_speed 7)" "$(awk -v r=$R 'BEGIN { print r * 8 / 1024 }')" 5
thr=$(vx_ubus call veloxd get_throughput)
vx_within "throughput now reports slot 7" "$(vx_json_field "$thr" interface2_rx)" "$(awk -v r=$R 'BEGIN { print r * 8 / 1024 }')" 5

vx_ubus call veloxd set_display_interface '{"interface1": 0, "interface2": 3}' >/dev/null
within 2 "mode client: a selection set to 3 moves to 7" display '{"interface1":0,"interface2":7}'

set_mode wds
sleep 1.5
vx_expect_eq "mode wds keeps the client slots" "$(list) $(display)" '{"list":[0,1,2,7,9]} {"interface1":0,"interface2":7}'

set_mode ap
within 2 "back to ap: the list names slot 3" list '{"list":[0,1,2,3,9]}'
within 2 "back to ap: the selection on 7 moves to 3" display '{"interface1":0,"interface2":3}'
within 2 "back to ap: slot 3 counts again" counting3 counting
vx_expect_eq "back to ap: slot 7 no longer counts" "$(counting 7)" idle

set_mode bogus
sleep 1.5
vx_expect_eq "an unknown mode changes no selection" "$(list) $(display)" '{"list":[]} {"interface1":0,"interface2":3}'
vx_ubus call veloxd set_display_interface '{"interface2": 7}' >/dev/null
sleep 1.5
vx_expect_eq "an unknown mode moves nothing" "$(display)" '{"interface1":0,"interface2":7}'

kill "$g3" "$g7"
vx_done
