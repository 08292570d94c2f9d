#!/usr/bin/env bash
# Interfaces deleted and created again under a running veloxd: swp1 (switch
# port 1, counted through the switch) and wlan0 (counted from the kernel).
# While they are gone their slots keep their totals and port 1's requests
# fail; once they are back the totals go on from the new interfaces.
here=$(cd "$(dirname "$0")" && pwd)
. "$here/lib.sh"
vx_reexec_in_ns "$here/veth.sh" "$@"
vx_sandbox_up
vx_start_ubusd
vx_start_veloxd "$FX_LOG"
g1=$(vx_traffic host1 br-lan 256000)
g2=$(vx_traffic sta0 br-lan 64000)
sleep 2.5
fx_speed_near "before: port 1 receive speed" 0 rx 2000
fx_speed_near "before: wireless receive speed" 3 rx 500
fx_stop "$g1" "$g2"
fx_settled "before: port 1 total matches swp1" 0 rx_bytes "$(fx_counter swp1 rx_bytes)"
fx_settled "before: wireless total matches wlan0" 3 rx_bytes "$(fx_counter wlan0 rx_bytes)"
port1=$(fx_field 0 rx_bytes)
wlan=$(fx_field 3 rx_bytes)

ip link del swp1
ip link del wlan0
failed='^do eth ioctl failed: ifname = eth1, port no = 1$'
fx_wait_lines 20 "$failed" 2
vx_expect_eq "gone: the slots keep their totals" "$(fx_field 0 rx_bytes) $(fx_field 3 rx_bytes)" "$port1 $wlan"
fx_prompt "gone"

# Back, as a hotplug script would bring them: new links, same names.
for p in swp1:host1 wlan0:sta0; do
	ip link add "${p%%:*}" type veth peer name "${p##*:}"
	ip link set "${p%%:*}" master br-lan
	ip link set "${p%%:*}" up
	ip link set "${p##*:}" up
	bridge fdb replace "$(vx_mac "${p##*:}")" dev "${p%%:*}" master static
done
g1=$(vx_traffic host1 br-lan 256000)
g2=$(vx_traffic sta0 br-lan 64000)
fx_speed_near "back: port 1 receive speed right again" 0 rx 2000
fx_speed_near "back: wireless receive speed right again" 3 rx 500
fails=$(fx_lines "$failed")
sleep 1.5
vx_expect_eq "back: no more failed requests" "$(fx_lines "$failed")" "$fails"
fx_stop "$g1" "$g2"
# The switch reports the new port's counts; the kernel slot takes the new
# interface's totals as they are.
fx_settled "back: port 1 total = before + the new swp1" 0 rx_bytes "$((port1 + $(fx_counter swp1 rx_bytes)))"
fx_settled "back: wireless total = the new wlan0" 3 rx_bytes "$(fx_counter wlan0 rx_bytes)"
fx_prompt "back"
vx_done
