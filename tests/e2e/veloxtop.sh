#!/usr/bin/env bash
# The live view against a running veloxd: it shows every listed slot with
# speeds and totals, the two display selections and each slot's last half
# minute from the history; it waits politely when the bus or the daemon is
# not there.
here=$(cd "$(dirname "$0")" && pwd)
. "$here/../../tools/sandbox.sh"
. "$here/check.sh"
vx_reexec_in_ns "$here/veloxtop.sh" "$@"
vx_sandbox_up

top() {
	timeout 10 "$VX_BIN_VELOXTOP" -s "$VX_SOCK" -b "$@"
}

vx_expect_match "no ubusd: waits for it" "$(top -n 1)" "waiting for ubusd on $VX_SOCK"
vx_start_ubusd
vx_expect_match "no veloxd: waits for it" "$(top -n 1)" "waiting for veloxd"

vx_start_veloxd /tmp/veloxd.log
g=$(vx_traffic host1 br-lan 256000)
sleep 3
out=$(top -n 2)
vx_expect_eq "exits after the asked refreshes" "$?" 0
vx_expect_eq "two refreshes" "$(grep -c '^veloxtop ' <<<"$out")" 2
last=$(awk '/^veloxtop /{n++} n==2' <<<"$out")
vx_expect_match "mode shown" "$last" "mode ap"
vx_expect_match "display selection 1" "$last" "display 1: slot 0 +lan0 \(port 1\) +tx +[0-9]+\.[0-9]{2} +rx +[0-9]+\.[0-9]{2}"
vx_expect_match "display selection 2" "$last" "display 2: slot 3 +wlan0 +tx +[0-9]+\.[0-9]{2} +rx +[0-9]+\.[0-9]{2}"
for row in "0 1  lan0 \(port 1\)" "1    lan1 \(port 2\)" "2    wired total" "3  2 wlan0" "9    br-lan"; do
	vx_expect_match "row: $row" "$last" "
 +${row} +[0-9]+\.[0-9]{2} +[0-9]+\.[0-9]{2} +[0-9]+ +[0-9]+ +[0-9]+ +[0-9]+"
done
rx=$(awk '$1 == "0" && $3 == "lan0" { print $7 }' <<<"$last")
vx_within "lan0 receive speed as veloxd reports it" "$rx" 2000 5
spark='\|[ .:=+*#%@-]{32}\|'
vx_expect_match "history of lan0: a line of each direction, the receive one at its top" "$last" "
 +0 +lan0 \(port 1\) +tx ${spark} +[0-9]+\.[0-9]{2} +rx \|[ .:=+*#%-]*@+\| +[0-9]+\.[0-9]{2}
"
top=$(sed -n 's/^ *0 *lan0 (port 1) .* rx |.*| *\([0-9.]*\)$/\1/p' <<<"$last")
# A pass that caught a late tick of the generator may be above the rate, none of them all below it.
vx_expect_true "history of lan0: the largest receive speed of the last 32 s is the rate or more ($top)" \
	awk -v t="$top" 'BEGIN { exit !(t >= 1900) }'
vx_expect_match "history of the bridge" "$last" "
 +9 +br-lan +tx ${spark} +[0-9]+\.[0-9]{2} +rx ${spark} +[0-9]+\.[0-9]{2}"
kill "$g"
vx_done
