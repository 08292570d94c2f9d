#!/usr/bin/env bash
# The "veloxd.history" object against the real daemon: its signature, the
# recent history of a LAN port with frames at a known rate (newest speeds
# match the rate, one entry more per sampling pass), the day right after
# start, arguments a caller can get wrong, and a wireless slot the mode
# switches off.
here=$(cd "$(dirname "$0")" && pwd)
. "$here/../../tools/sandbox.sh"
. "$here/check.sh"
vx_reexec_in_ns "$here/history.sh" "$@"
vx_sandbox_up
vx_start_ubusd
vx_start_veloxd /tmp/veloxd.log

history() {
	vx_ubus -S call veloxd.history get_history "$1"
}

# length TEXT NAME: entries of array NAME in one compact reply
length() {
	sed -n "s/.*\"$2\":\[\([^]]*\)\].*/\1/p" <<<"$1" | tr ',' '\n' | grep -c .
}

# newest TEXT NAME N: the last N entries of array NAME, one a line
newest() {
	sed -n "s/.*\"$2\":\[\([^]]*\)\].*/\1/p" <<<"$1" | tr ',' '\n' | tr -d '"' | tail -n "$3"
}

vx_expect_eq "signature" "$(vx_ubus -v list veloxd.history | tail -n +2)" \
	"$T\"get_history\":{\"interface1\":\"Integer\",\"range\":\"String\"}"

# age TEXT: the age of one compact reply
age() {
	sed -n 's/.*"age":\([0-9]*\).*/\1/p' <<<"$1"
}

# eventually NAME SECONDS CMD...: CMD succeeds within SECONDS
eventually() {
	local name=$1 seconds=$2
	shift 2
	if vx_wait_for "$seconds" "$@"; then vx_ok "$name"; else vx_not_ok "$name" "not within $seconds s: $*"; fi
}

# samples_at_least SLOT N
samples_at_least() {
	[ "$(length "$(history "{\"interface1\": $1}")" rx_speed)" -ge "$2" ]
}

# age_at_least SLOT N
age_at_least() {
	[ "$(age "$(history "{\"interface1\": $1}")")" -ge "$2" ]
}

R=256000
g=$(vx_traffic host1 br-lan $R)
eventually "slot 0 sampled six times" 20 samples_at_least 0 6

# The newest speeds of slot 0 are the generator's rate: the middle of the
# last three, so one pass that caught a late tick of the generator does not
# decide it.
reply=$(history '{"interface1": 0}')
vx_expect_match "recent reply form" "$reply" \
	'^\{"interface1":0,"range":"recent","interval":1,"age":[0-9]+,"tx_speed":\["[0-9]+\.[0-9]{2}"(,"[0-9]+\.[0-9]{2}")*\],"rx_speed":\[.*\]\}$'
vx_expect_eq "as many transmit as receive entries" "$(length "$reply" tx_speed)" "$(length "$reply" rx_speed)"
vx_within "newest receive speeds of slot 0" "$(newest "$reply" rx_speed 3 | sort -g | sed -n 2p)" \
	"$(awk -v r=$R 'BEGIN { printf "%.2f", r * 8 / 1024 }')" 5

# One entry more per pass: polled several times a pass, the length never
# grows by more than one between two readings less than a second apart
# (passes end at least a second apart; each reading happened between the
# clock read before its call and the one after, so the pair is judged only
# when the first call began less than a second before the second ended),
# until it has grown by 4.
prev_ns=$(date +%s%N)
prev=$(length "$(history '{"interface1": 0}')" rx_speed)
steps=0 jumps=0
deadline=$((SECONDS + 60))
while [ "$steps" -lt 4 ] && [ "$SECONDS" -lt "$deadline" ]; do
	sleep 0.1
	began_ns=$(date +%s%N)
	cur=$(length "$(history '{"interface1": 0}')" rx_speed)
	ended_ns=$(date +%s%N)
	if [ "$cur" -lt "$prev" ] || { [ "$cur" -gt $((prev + 1)) ] && [ $((ended_ns - prev_ns)) -lt 1000000000 ]; }; then
		jumps=$((jumps + 1))
	fi
	[ "$cur" -gt "$prev" ] && steps=$((steps + cur - prev))
	prev=$cur prev_ns=$began_ns
done
vx_expect_eq "the recent history grows by one a pass" "$steps $jumps" "4 0"
kill "$g"

vx_expect_eq "day right after start: empty" "$(history '{"interface1": 0, "range": "day"}')" \
	'{"interface1":0,"range":"day","interval":300,"age":0,"tx_speed":[],"rx_speed":[],"tx_bytes":[],"rx_bytes":[]}'
vx_expect_eq "day of the wired total: speeds only" "$(history '{"interface1": 2, "range": "day"}')" \
	'{"interface1":2,"range":"day","interval":300,"age":0,"tx_speed":[],"rx_speed":[]}'

for args in '{}' '{"interface1": 4}' '{"interface1": 12}' '{"interface1": -1}' '{"interface1": "0"}' \
	'{"interface1": 0, "range": "week"}' '{"range": "day"}'; do
	vx_expect_eq "empty reply for $args" "$(history "$args")" "{}"
done
vx_expect_match "a range that is no string counts as missing" "$(history '{"interface1": 9, "range": 7}')" \
	'^\{"interface1":9,"range":"recent",'

# Mode "ap": slot 7 is never sampled. Switched to "client", slot 3 stops
# and its age grows while slot 7 starts.
vx_expect_eq "slot 7 in mode ap: empty" "$(history '{"interface1": 7}')" \
	'{"interface1":7,"range":"recent","interval":1,"age":0,"tx_speed":[],"rx_speed":[]}'
vx_uci set opmode.op.mode=client
vx_uci commit opmode
eventually "slot 3 switched off: its age grows" 20 age_at_least 3 2
before=$(length "$(history '{"interface1": 3}')" rx_speed)
vx_wait_for 20 age_at_least 3 3
vx_expect_eq "slot 3 switched off: no more entries" "$(length "$(history '{"interface1": 3}')" rx_speed)" "$before"
eventually "slot 7 switched on: sampled" 20 samples_at_least 7 2
vx_expect_true "veloxd still serves" kill -0 "$VX_VELOXD_PID"
vx_done
