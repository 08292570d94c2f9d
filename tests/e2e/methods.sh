#!/usr/bin/env bash
# Every method of the "veloxd" object as `ubus call` prints it, and the
# object's signature as `ubus -v list` prints it.
here=$(cd "$(dirname "$0")" && pwd)
# shellcheck source=daemon_up.sh
. "$here/daemon_up.sh"

vx_expect_eq "test answers error_code 0" "$(vx_ubus call veloxd test)" "$ok_reply"
vx_expect_eq "test ignores arguments" "$(vx_ubus call veloxd test '{"interface1": 4}')" "$ok_reply"

vx_expect_eq "display selections start at 0 and 3" "$(vx_ubus call veloxd get_display_interface)" "{
$T\"interface1\": 0,
$T\"interface2\": 3
}"

# slot_list SLOT...: the get_interface_list reply as `ubus call` prints it
# (an empty array keeps one line of two tabs).
slot_list() {
	local body="" s
	for s in "$@"; do
		body+="${body:+,
}$T$T$s"
	done
	printf '{\n%s"list": [\n%s\n%s]\n}' "$T" "${body:-$T$T}" "$T"
}
list_ap=$(slot_list 0 1 2 3 9)
list_client=$(slot_list 0 1 2 7 9)
list_empty=$(slot_list)
vx_expect_eq "interface list in mode ap" "$(vx_ubus call veloxd get_interface_list)" "$list_ap"

speed='"[0-9]+\.[0-9]{2}"'
count='"[0-9]+"'
vx_expect_match "throughput: four speed strings with two decimals" \
	"$(vx_ubus call veloxd get_throughput)" \
	"^\{
$T\"interface1_tx\": $speed,
$T\"interface1_rx\": $speed,
$T\"interface2_tx\": $speed,
$T\"interface2_rx\": $speed
\}\$"

port_info_re="^\{
$T\"tx_packets\": $count,
$T\"tx_bytes\": $count,
$T\"rx_packets\": $count,
$T\"rx_bytes\": $count,
$T\"tx_speed\": $speed,
$T\"rx_speed\": $speed
\}\$"
vx_expect_match "port info of slot 2: six strings in order" \
	"$(vx_ubus call veloxd get_lan_port_info '{"interface1": 2}')" "$port_info_re"
vx_expect_match "port info of the bridge slot" \
	"$(vx_ubus call veloxd get_lan_port_info '{"interface1": 9}')" "$port_info_re"
vx_expect_eq "a slot that never counted shows text zeros" \
	"$(vx_ubus call veloxd get_lan_port_info '{"interface1": 5}')" "{
$T\"tx_packets\": \"0\",
$T\"tx_bytes\": \"0\",
$T\"rx_packets\": \"0\",
$T\"rx_bytes\": \"0\",
$T\"tx_speed\": \"0.00\",
$T\"rx_speed\": \"0.00\"
}"
vx_expect_eq "port info without interface1 is empty" \
	"$(vx_ubus call veloxd get_lan_port_info)" "$empty_reply"
vx_expect_eq "set_display_interface answers error_code 0" \
	"$(vx_ubus call veloxd set_display_interface '{"interface1": 0}')" "$ok_reply"

# Compact output shows the wire types: integers bare, figures as strings.
vx_expect_eq "compact: integers are integers" "$(vx_ubus -S call veloxd get_display_interface)" \
	'{"interface1":0,"interface2":3}'
vx_expect_match "compact: figures are strings" "$(vx_ubus -S call veloxd get_lan_port_info '{"interface1": 0}')" \
	'^\{"tx_packets":"[0-9]+","tx_bytes":"[0-9]+","rx_packets":"[0-9]+","rx_bytes":"[0-9]+","tx_speed":"[0-9]+\.[0-9]{2}","rx_speed":"[0-9]+\.[0-9]{2}"\}$'

sig=$(vx_ubus -v list veloxd)
vx_expect_match "signature of the object" "$sig" "^'veloxd' @[0-9a-f]{8}
$T\"test\":\{\}
$T\"get_interface_list\":\{\}
$T\"get_display_interface\":\{\}
$T\"get_throughput\":\{\}
$T\"get_lan_port_info\":\{\"interface1\":\"Integer\",\"interface2\":\"Integer\"\}
$T\"set_display_interface\":\{\"interface1\":\"Integer\",\"interface2\":\"Integer\"\}\$"

# The list follows the mode in the store at each call.
set_mode() {
	vx_uci set "opmode.op.mode=$1" && vx_uci commit opmode
}
set_mode client
vx_expect_eq "interface list in mode client" "$(vx_ubus call veloxd get_interface_list)" "$list_client"
set_mode wds
vx_expect_eq "interface list in mode wds" "$(vx_ubus call veloxd get_interface_list)" "$list_client"
set_mode AP
vx_expect_eq "mode in capitals gives an empty list" "$(vx_ubus call veloxd get_interface_list)" "$list_empty"
vx_uci delete opmode.op.mode && vx_uci commit opmode
vx_expect_eq "missing mode gives an empty list" "$(vx_ubus call veloxd get_interface_list)" "$list_empty"
set_mode ap
vx_expect_eq "back in mode ap" "$(vx_ubus call veloxd get_interface_list)" "$list_ap"

out=$(vx_ubus call veloxd no_such_method 2>&1)
vx_expect_eq "unknown method fails on the bus" "$?:$out" \
	"253:Command failed: ubus call veloxd no_such_method (Method not found)"

kill -TERM "$VX_VELOXD_PID"
wait "$VX_VELOXD_PID"
vx_expect_eq "veloxd ends with status 0 on SIGTERM" "$?" 0
vx_expect_match "mode errors were logged" "$(cat /tmp/veloxd.log)" "\[ERROR\] ubus_get_interface_list\([0-9]+\) : Unsupported wlan opmode"
vx_done
