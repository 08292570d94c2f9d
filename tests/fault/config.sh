#!/usr/bin/env bash
# Configuration files broken under a running veloxd: deleted, garbage, a
# FIFO in place of a file, then restored. Each read that fails is logged and
# leaves the wireless mode as it was; no call and no sampling pass waits on
# the store; once the files are back everything is as before.
here=$(cd "$(dirname "$0")" && pwd)
. "$here/lib.sh"
vx_reexec_in_ns "$here/config.sh" "$@"
vx_sandbox_up
vx_start_ubusd
vx_start_veloxd "$FX_LOG"
vx_traffic host1 br-lan 256000 >/dev/null
vx_traffic sta0 br-lan 64000 >/dev/null
mkdir /tmp/saved && cp /etc/config/* /tmp/saved/

list_ap='{"list":[0,1,2,3,9]}'
read_failed='\[ERROR\] uci_get_conf\([0-9]+\) : can not find uci option: opmode'
mode_failed='\[ERROR\] check_wlan_mode\([0-9]+\) : Unsupported wlan opmode'

# last_two: the last two lines of the mode reads, in LAST_TWO; whether they
# are a whole pass's (read between passes, not while one prints them)
last_two() {
	LAST_TWO=$(grep -E "$read_failed|$mode_failed" "$FX_LOG" | tail -n 2)
	[[ $LAST_TWO =~ ^$read_failed$'\n'$mode_failed$ ]]
}

# broken NAME: the mode read fails in the sampler and in the calls, nothing stalls
broken() {
	local seen
	seen=$(fx_lines "$mode_failed")
	fx_wait_lines 15 "$mode_failed" $((seen + 1))
	vx_wait_for 15 last_two
	vx_expect_match "$1: each pass logs the failed read, then the unsupported mode" \
		"$LAST_TWO" "^$read_failed
$mode_failed\$"
	fx_call get_interface_list
	vx_expect_eq "$1: the interface list is empty" "$(tr -d '\n\t ' <<<"$FX_REPLY")" '{"list":[]}'
	vx_expect_eq "$1: the wireless slot keeps its state" "$(fx_ubus -S call veloxd get_display_interface)" \
		'{"interface1":0,"interface2":3}'
	fx_prompt "$1"
	fx_sampling "$1" 3
}

vx_wait_for 20 eval '[ "$(fx_ubus -S call veloxd get_interface_list)" = "$list_ap" ]'
vx_expect_eq "start: mode ap" "$(fx_ubus -S call veloxd get_interface_list)" "$list_ap"

# The other files are read at start-up only: losing them changes nothing.
rm /etc/config/opmode /etc/config/interface /etc/config/phy_map
broken "files deleted"

printf 'config op op\n\toption mode "ap\n\377\000\001garbage {}\n' >/etc/config/opmode
broken "garbage"

rm /etc/config/opmode
mkfifo /etc/config/opmode
broken "a FIFO"
# A reader stuck in open() (the fault this case is about) is let go, so that
# the rest of the case still runs.
timeout 1 bash -c 'exec 3>/etc/config/opmode' 2>/dev/null

rm /etc/config/opmode
cp /tmp/saved/* /etc/config/
vx_wait_for 20 eval '[ "$(fx_ubus -S call veloxd get_interface_list)" = "$list_ap" ]'
vx_expect_eq "restored: mode ap again" "$(fx_ubus -S call veloxd get_interface_list)" "$list_ap"
sleep 1.2
errors=$(fx_lines "$mode_failed")
sleep 2.2
vx_expect_eq "restored: no more failed reads" "$(fx_lines "$mode_failed")" "$errors"
fx_speed_near "restored: port 1 receive speed right" 0 rx 2000
fx_speed_near "restored: wireless receive speed right" 3 rx 500
fx_prompt "restored"
vx_expect_true "veloxd still runs" kill -0 "$VX_VELOXD_PID"
vx_done
