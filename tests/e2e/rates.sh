#!/usr/bin/env bash
# Speeds from real frames: the generator sends at known byte rates through a
# LAN port (counted by the switch stand-in) and the bridge; veloxd must report
# them within 5% in its unit of 1024 bit/s, and slot 2 must be the sum of the
# two LAN slots. Readings follow the daemon's sampling passes, counted through
# the switch stand-in's log of port 1 requests (one at the end of each pass).
here=$(cd "$(dirname "$0")" && pwd)
. "$here/../../tools/sandbox.sh"
. "$here/check.sh"
vx_reexec_in_ns "$here/rates.sh" "$@"
vx_sandbox_up
vx_start_ubusd
vx_start_veloxd /tmp/veloxd.log SWITCHSIM_LOG=/tmp/requests

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

passes() {
	grep -c '^port=1 ' /tmp/requests 2>/dev/null || echo 0
}
# passes_after N: N more passes have ended (given up after 15 s a pass)
passes_after() {
	local want=$(($(passes) + $1))
	vx_wait_for $((15 * $1)) eval '[ "$(passes)" -ge '"$want"' ]' || vx_die "sampling stopped at $(passes) passes"
}

# Five rounds of readings of every slot, one a pass; a check takes the middle
# of the five, so the odd pass that caught a generator's late tick (or a
# daemon held up around its clock reading) does not decide it.
ROUNDS=5
declare -A SPEED
take_readings() {
	local round slot reply
	for ((round = 1; round <= ROUNDS; round++)); do
		[ "$round" = 1 ] || passes_after 1
		for slot in 0 1 2 3 9; do
			reply=$(vx_ubus call veloxd get_lan_port_info "{\"interface1\": $slot}")
			SPEED[$round.$slot.rx]=$(vx_json_field "$reply" rx_speed)
			SPEED[$round.$slot.tx]=$(vx_json_field "$reply" tx_speed)
		done
		reply=$(vx_ubus call veloxd get_throughput)
		SPEED[$round.thr.1.rx]=$(vx_json_field "$reply" interface1_rx)
		SPEED[$round.thr.1.tx]=$(vx_json_field "$reply" interface1_tx)
		SPEED[$round.thr.2.rx]=$(vx_json_field "$reply" interface2_rx)
	done
}

# median SLOT DIR: the middle of the readings
median() {
	local round
	for ((round = 1; round <= ROUNDS; round++)); do
		echo "${SPEED[$round.$1.$2]}"
	done | sort -g | sed -n "$(((ROUNDS + 1) / 2))p"
}

# Every read of slot 2 must equal slot 0 + slot 1 from the same sampling pass;
# a pass may fall between the three calls, so read again until three calls
# fall within one (given up after 20 s).
sum_holds() {
	local dir=$1
	S0=$(field 0 "${dir}_speed") S1=$(field 1 "${dir}_speed") S2=$(field 2 "${dir}_speed")
	awk -v a="$S0" -v b="$S1" -v s="$S2" 'BEGIN { d = a + b - s; exit !(d < 0.015 && d > -0.015) }'
}
check_sum() {
	if vx_wait_for 20 sum_holds "$1"; then
		vx_ok "slot 2 $1 = slot 0 + slot 1 ($S2 = $S0 + $S1)"
	else
		vx_not_ok "slot 2 $1 = slot 0 + slot 1" "slot0 $S0 slot1 $S1 slot2 $S2"
	fi
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
passes_after 3
take_readings
vx_within "port 1 receive (slot 0 rx)" "$(median 0 rx)" "$(unit $R1)" 5
vx_within "port 2 transmit (slot 1 tx)" "$(median 1 tx)" "$(unit $R2)" 5
vx_within "bridge receive (slot 9 rx)" "$(median 9 rx)" "$(unit $R1 "$BRIDGE_RX_SHARE")" 5
vx_within "bridge transmit (slot 9 tx)" "$(median 9 tx)" "$(unit $R2)" 5
vx_within "idle direction of port 1 stays near 0 (slot 0 tx)" "$(field 0 tx_speed)" 0.5 100
check_sum rx
check_sum tx
vx_within "throughput of selection 1 (slot 0) rx" "$(median thr.1 rx)" "$(unit $R1)" 5
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
passes_after 3
take_readings
vx_within "port 2 receive (slot 1 rx)" "$(median 1 rx)" "$(unit $R3)" 5
vx_within "port 1 transmit (slot 0 tx)" "$(median 0 tx)" "$(unit $R4)" 5
vx_within "port 1 receive at a second rate (slot 0 rx)" "$(median 0 rx)" "$(unit $R6)" 5
vx_within "port 2 transmit at a second rate (slot 1 tx)" "$(median 1 tx)" "$(unit $R7)" 5
vx_within "wired total receive (slot 2 rx)" "$(median 2 rx)" "$(unit $((R3 + R6)))" 5
vx_within "wired total transmit (slot 2 tx)" "$(median 2 tx)" "$(unit $((R4 + R7)))" 5
vx_within "bridge receive, three sources (slot 9 rx)" "$(median 9 rx)" "$(unit $((R3 + R5 + R6)) "$BRIDGE_RX_SHARE")" 5
vx_within "bridge transmit, two streams (slot 9 tx)" "$(median 9 tx)" "$(unit $((R4 + R7)))" 5
vx_within "wireless receive (slot 3 rx)" "$(median 3 rx)" "$(unit $R5)" 5
check_sum rx
check_sum tx
vx_within "throughput of selection 1 (slot 0) tx" "$(median thr.1 tx)" "$(unit $R4)" 5
vx_within "throughput of selection 2 (slot 3) rx" "$(median thr.2 rx)" "$(unit $R5)" 5
stop_traffic "$g3" "$g4" "$g5" "$g6" "$g7"

# Totals: the bytes of port 1 as veloxd reports them match the switch port's
# kernel counters once a pass has sampled them after the traffic stopped.
settled() { # settled NAME SLOT FIELD IFACE STAT
	local want got i
	want=$(cat "/sys/class/net/$4/statistics/$5")
	for i in $(seq 40); do
		got=$(field "$2" "$3")
		[ "$got" = "$want" ] && break
		sleep 0.5
	done
	vx_expect_eq "$1" "$got" "$want"
}
settled "port 1 received-byte total" 0 rx_bytes swp1 rx_bytes
settled "port 1 transmitted-byte total" 0 tx_bytes swp1 tx_bytes
settled "bridge received-byte total" 9 rx_bytes br-lan rx_bytes
settled "bridge transmitted packets" 9 tx_packets br-lan tx_packets
vx_done
