#!/usr/bin/env bash
# Wireless mode changes made with the uci tool, as an administrator would:
# the interface list, the wireless slots and the display selections follow
# by the second sampling pass after the change. Passes are counted, not
# timed: the switch stand-in logs one port 1 request at the end of each.
here=$(cd "$(dirname "$0")" && pwd)
. "$here/../../tools/sandbox.sh"
. "$here/check.sh"
vx_reexec_in_ns "$here/mode.sh" "$@"
vx_sandbox_up
vx_start_ubusd
vx_start_veloxd /tmp/veloxd.log SWITCHSIM_LOG=/tmp/requests

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
passes() {
	grep -c '^port=1 ' /tmp/requests 2>/dev/null || echo 0
}
# passes_after N: N more passes have ended. The first may have read the mode
# before what was done last; the second began after it, and a pass reads the
# mode before it samples. Given up after 15 s a pass, ten times the period.
passes_after() {
	local want=$(($(passes) + $1))
	vx_wait_for $((15 * $1)) eval '[ "$(passes)" -ge '"$want"' ]' || vx_die "sampling stopped at $(passes) passes"
}
# counting SLOT: "counting" when the slot's received total changes over a
# whole pass, "idle" when it does not
counting() {
	local before
	before=$(rx_bytes "$1")
	passes_after 2
	[ "$(rx_bytes "$1")" != "$before" ] && echo counting || echo idle
}
kbit() { awk -v r="$1" 'BEGIN { print r * 8 / 1024 }'; }

# Frames on both wireless interfaces; only the slot of the current mode counts them.
R=128000
g3=$(vx_traffic sta0 br-lan $R)
g7=$(vx_traffic sta7 br-lan $R)

vx_expect_eq "mode ap lists slot 3" "$(list)" '{"list":[0,1,2,3,9]}'
vx_ubus call veloxd set_display_interface '{"interface1": 3}' >/dev/null
vx_expect_eq "both selections on the ap slot" "$(display)" '{"interface1":3,"interface2":3}'
# Two passes of traffic, so that a speed has been derived.
passes_after 3
vx_within_soon "ap slot counts its traffic" "$(kbit $R)" 5 rx_speed 3
vx_expect_eq "client slot is not sampled in mode ap" "$(rx_speed 7)" "0.00"

set_mode client
passes_after 2
vx_expect_eq "mode client: the list names slot 7" "$(list)" '{"list":[0,1,2,7,9]}'
vx_expect_eq "mode client: both selections move from 3 to 7" "$(display)" '{"interface1":7,"interface2":7}'
vx_expect_eq "mode client: slot 7 counts" "$(counting 7)" counting
vx_expect_eq "mode client: slot 3 no longer counts" "$(counting 3)" idle
passes_after 2
vx_within_soon "client slot counts its traffic" "$(kbit $R)" 5 rx_speed 7
selection2_rx() {
	vx_json_field "$(vx_ubus call veloxd get_throughput)" interface2_rx
}
vx_within_soon "throughput now reports slot 7" "$(kbit $R)" 5 selection2_rx

vx_ubus call veloxd set_display_interface '{"interface1": 0, "interface2": 3}' >/dev/null
passes_after 2
vx_expect_eq "mode client: a selection set to 3 moves to 7" "$(display)" '{"interface1":0,"interface2":7}'

set_mode wds
passes_after 2
vx_expect_eq "mode wds keeps the client slots" "$(list) $(display)" '{"list":[0,1,2,7,9]} {"interface1":0,"interface2":7}'

set_mode ap
passes_after 2
vx_expect_eq "back to ap: the list names slot 3" "$(list)" '{"list":[0,1,2,3,9]}'
vx_expect_eq "back to ap: the selection on 7 moves to 3" "$(display)" '{"interface1":0,"interface2":3}'
vx_expect_eq "back to ap: slot 3 counts again" "$(counting 3)" counting
vx_expect_eq "back to ap: slot 7 no longer counts" "$(counting 7)" idle

set_mode bogus
passes_after 2
vx_expect_eq "an unknown mode changes no selection" "$(list) $(display)" '{"list":[]} {"interface1":0,"interface2":3}'
vx_ubus call veloxd set_display_interface '{"interface2": 7}' >/dev/null
passes_after 2
vx_expect_eq "an unknown mode moves nothing" "$(display)" '{"interface1":0,"interface2":7}'

kill "$g3" "$g7"
vx_done
