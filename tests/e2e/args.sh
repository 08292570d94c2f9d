#!/usr/bin/env bash
# Argument handling of set_display_interface and get_lan_port_info over the
# bus: values out of range, negative, of the wrong type, missing, or alone.
here=$(cd "$(dirname "$0")" && pwd)
# shellcheck source=daemon_up.sh
. "$here/daemon_up.sh"

display() {
	vx_ubus -S call veloxd get_display_interface
}

# set_display ARGS EXPECTED_SELECTION NAME
set_display() {
	local reply
	reply=$(vx_ubus call veloxd set_display_interface "$1")
	vx_expect_eq "$3: answers error_code 0" "$reply" "$ok_reply"
	vx_expect_eq "$3: selections" "$(display)" "$2"
}

set_display '{"interface1": 5}' '{"interface1":5,"interface2":3}' "interface1 5 is stored"
set_display '{"interface1": 12}' '{"interface1":5,"interface2":3}' "interface1 12 is ignored"
set_display '{"interface2": -1}' '{"interface1":5,"interface2":3}' "interface2 -1 is ignored"
set_display '{"interface1": "4"}' '{"interface1":5,"interface2":3}' "interface1 as a string is ignored"
set_display '{"interface1": 4.0}' '{"interface1":5,"interface2":3}' "interface1 as a double is ignored"
set_display '{"interface1": 5000000000}' '{"interface1":5,"interface2":3}' "interface1 as a 64-bit integer is ignored"
set_display '{}' '{"interface1":5,"interface2":3}' "no arguments change nothing"
set_display '{"other": 1}' '{"interface1":5,"interface2":3}' "unknown arguments change nothing"
set_display '{"interface2": 11}' '{"interface1":5,"interface2":11}' "interface2 alone"
set_display '{"interface1": 9, "interface2": 0}' '{"interface1":9,"interface2":0}' "both at once"
set_display '{"interface1": 1, "interface2": 12}' '{"interface1":1,"interface2":0}' "one valid, one out of range"
set_display '{"interface1": 2, "interface2": 2}' '{"interface1":2,"interface2":2}' "both on one slot"

# Both selections on slot 2: both pairs carry that slot's speeds.
thr=$(vx_ubus call veloxd get_throughput)
vx_expect_eq "same slot twice gives the same speeds" \
	"$(vx_json_field "$thr" interface1_tx) $(vx_json_field "$thr" interface1_rx)" \
	"$(vx_json_field "$thr" interface2_tx) $(vx_json_field "$thr" interface2_rx)"

port() {
	vx_ubus call veloxd get_lan_port_info "$@"
}
vx_expect_eq "port info: no arguments" "$(port)" "$empty_reply"
vx_expect_eq "port info: empty table" "$(port '{}')" "$empty_reply"
vx_expect_eq "port info: interface2 alone" "$(port '{"interface2": 1}')" "$empty_reply"
vx_expect_eq "port info: slot 12" "$(port '{"interface1": 12}')" "$empty_reply"
vx_expect_eq "port info: slot -1" "$(port '{"interface1": -1}')" "$empty_reply"
vx_expect_eq "port info: slot as a string" "$(port '{"interface1": "1"}')" "$empty_reply"
vx_expect_eq "port info: slot as a boolean" "$(port '{"interface1": true}')" "$empty_reply"
vx_expect_match "port info: slot 11 answers" "$(vx_ubus -S call veloxd get_lan_port_info '{"interface1": 11}')" \
	'^\{"tx_packets":"0","tx_bytes":"0","rx_packets":"0","rx_bytes":"0","tx_speed":"0.00","rx_speed":"0.00"\}$'
vx_expect_eq "port info: interface2 has no effect" \
	"$(vx_ubus -S call veloxd get_lan_port_info '{"interface1": 5, "interface2": 0}')" \
	"$(vx_ubus -S call veloxd get_lan_port_info '{"interface1": 5}')"

# Arguments to the methods without a policy are never looked at.
vx_ubus call veloxd get_display_interface '{"interface1": 0}' >/dev/null
vx_expect_eq "get_display_interface with arguments changes nothing" "$(display)" '{"interface1":2,"interface2":2}'

vx_expect_true "veloxd still serves" kill -0 "$VX_VELOXD_PID"
vx_done
