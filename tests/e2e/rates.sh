#!/usr/bin/env bash
# Speeds from real frames: the generator sends at known byte rates through a
# LAN port (counted by the switch stand-in) and the bridge; veloxd must report
# them within 5% in its unit of 1024 bit/s, and slot 2 must be the sum of the
# two LAN slots.
here=$(cd "$(dirname "$0")" && pwd)
. "$here/../../tools/sandbox.sh"
. "$here/check.sh"
vx_reexec_in_ns "$here/rates.sh" "$@"
vx_sandbox_up
vx_start_ubusd
vx_start_veloxd /tmp/veloxd.log

FRAME=1000
# The bridge device counts received frames without their 14-byte Ethernet header.
BRIDGE_RX_SHARE=$(awk -v f=$FRAME 'BEGIN { print (f - 14) / f }')

unit() { # bytes per second -> 1024 bit/s
	awk -v r="$1" -v s="${2:-1}" 'BEGIN { printf "%.2f", r * s * 8 / 1024 }'
}

# field SLOT NAME: one figure of get_lan_port_info
field() {
	vx_json_field "$(vx_ubus call veloxd get_lan_port_info "{\"interface1\": $1}")" "$2"
}

# Three rounds of readings of every slot, a sampling period apart; a check
# takes the middle of the three, so one pass that caught a generator's late
# tick does not decide it.
declare -A SPEED
take_readings() {
	local round slot reply
	for round in 1 2 3; do
		[ "$round" = 1 ] || sleep 1.05
		for slot in 0 1 2 3 9; do
			reply=$(vx_ubus call veloxd get_lan_port_info "{\"interface1\": $slot}")
			SPEED[$round.$slot.rx]=$(vx_json_field "$reply" rx_speed)
			SPEED[$round.$slot.tx]=$(vx_json_field "$reply" tx_speed)
		done
	done
}

# median3 SLOT DIR: the middle of the three readings
median3() {
	printf '%s\n%s\n%s\n' "${SPEED[1.$1.$2]}" "${SPEED[2.$1.$2]}" "${SPEED[3.$1.$2]}" | sort -g | sed -n 2p
}

# Every read of slot 2 must equal slot 0 + slot 1 from the same sampling pass;
# a pass may fall between the three calls, so allow a retry.
check_sum() {
	local i s0 s1 s2 dir=$1
	for i in 1 2 3 4; do
		s0=$(field 0 "${dir}_speed"); s1=$(field 1 "${dir}_speed"); s2=$(field 2 "${dir}_speed")
		if awk -v a="$s0" -v b="$s1" -v s="$s2" 'BEGIN { d = a + b - s; exit !(d < 0.015 && d > -0.015) }'; then
			vx_ok "slot 2 $dir = slot 0 + slot 1 ($s2 = $s0 + $s1)"
			return
		fi
		sleep 0.3
	done
	vx_not_ok "slot 2 $dir = slot 0 + slot 1" "slot0 $s0 slot1 $s1 slot2 $s2"
}

stop_traffic() {
	kill "$@" 2>/dev/null
	wait "$@" 2>/dev/null
}

# Phase 1: PC on port 1 sends 256000 B/s to the router, the router sends
# 640000 B/s to the PC on port 2.
R1=256000
R2=640000
g1=$(vx_traffic host1 br-lan $R1)
g2=$(vx_traffic br-lan host2 $R2)
sleep 3.5
take_readings
vx_within "port 1 receive (slot 0 rx)" "$(median3 0 rx)" "$(unit $R1)" 5
vx_within "port 2 transmit (slot 1 tx)" "$(median3 1 tx)" "$(unit $R2)" 5
vx_within "bridge receive (slot 9 rx)" "$(median3 9 rx)" "$(unit $R1 "$BRIDGE_RX_SHARE")" 5
vx_within "bridge transmit (slot 9 tx)" "$(median3 9 tx)" "$(unit $R2)" 5
vx_within "idle direction of port 1 stays near 0 (slot 0 tx)" "$(field 0 tx_speed)" 0.5 100
check_sum rx
check_sum tx
thr=$(vx_ubus call veloxd get_throughput)
vx_within "throughput of selection 1 (slot 0) rx" "$(vx_json_field "$thr" interface1_rx)" "$(unit $R1)" 5
stop_traffic "$g1" "$g2"

# Phase 2: other rates, the other ports and directions, and the wireless
# slot; both ports now carry traffic each way, so slot 2 is a true sum.
R3=96000
R4=1024000
R5=192000
R6=160000
R7=320000
g3=$(vx_traffic host2 br-lan $R3)
g4=$(vx_traffic br-lan host1 $R4)
g5=$(vx_traffic sta0 br-lan $R5)
g6=$(vx_traffic host1 br-lan $R6)
g7=$(vx_traffic br-lan host2 $R7)
sleep 3.5
take_readings
vx_within "port 2 receive (slot 1 rx)" "$(median3 1 rx)" "$(unit $R3)" 5
vx_within "port 1 transmit (slot 0 tx)" "$(median3 0 tx)" "$(unit $R4)" 5
vx_within "port 1 receive at a second rate (slot 0 rx)" "$(median3 0 rx)" "$(unit $R6)" 5
vx_within "port 2 transmit at a second rate (slot 1 tx)" "$(median3 1 tx)" "$(unit $R7)" 5
vx_within "wired total receive (slot 2 rx)" "$(median3 2 rx)" "$(unit $((R3 + R6)))" 5
vx_within "wired total transmit (slot 2 tx)" "$(median3 2 tx)" "$(unit $((R4 + R7)))" 5
vx_within "bridge receive, three sources (slot 9 rx)" "$(median3 9 rx)" "$(unit $((R3 + R5 + R6)) "$BRIDGE_RX_SHARE")" 5
vx_within "bridge transmit, two streams (slot 9 tx)" "$(median3 9 tx)" "$(unit $((R4 + R7)))" 5
vx_within "wireless receive (slot 3 rx)" "$(median3 3 rx)" "$(unit $R5)" 5
check_sum rx
check_sum tx
thr=$(vx_ubus call veloxd get_throughput)
vx_within "throughput of selection 1 (slot 0) tx" "$(vx_json_field "$thr" interface1_tx)" "$(unit $R4)" 5
vx_within "throughput of selection 2 (slot 3) rx" "$(vx_json_field "$thr" interface2_rx)" "$(unit $R5)" 5
stop_traffic "$g3" "$g4" "$g5" "$g6" "$g7"

# Totals: the bytes of port 1 as veloxd reports them match the switch port's
# kernel counters at the last sample (no traffic now, so they are still).
sleep 2.2
vx_expect_eq "port 1 received-byte total" "$(field 0 rx_bytes)" "$(cat /sys/class/net/swp1/statistics/rx_bytes)"
vx_expect_eq "port 1 transmitted-byte total" "$(field 0 tx_bytes)" "$(cat /sys/class/net/swp1/statistics/tx_bytes)"
vx_expect_eq "bridge received-byte total" "$(field 9 rx_bytes)" "$(cat /sys/class/net/br-lan/statistics/rx_bytes)"
vx_expect_eq "bridge transmitted packets" "$(field 9 tx_packets)" "$(cat /sys/class/net/br-lan/statistics/tx_packets)"
vx_done
