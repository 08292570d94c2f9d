#!/bin/busybox sh
# /init of the lumabar test VM. Loads the board stand-in and lumabar, checks
# them through /proc/simple_config, the stand-in's debugfs view and dmesg,
# prints one "CHECK ok|FAIL|LATE name" line per check and "FIGURE" lines with
# measured timings, ends with "VMTEST DONE checks=N fails=M" and powers off.
#
# LED n sits on line 3, 14, 13, 11 (n = 1..4); a line at 0 is a lit LED.
# In the stand-in's value word: bit 3 = 0x8, bit 14 = 0x4000,
# bit 13 = 0x2000, bit 11 = 0x800, so a dark bar is 00006808.

/bin/busybox mkdir -p /sbin /usr/bin /usr/sbin /proc /sys /dev /tmp
/bin/busybox --install -s
mount -t proc proc /proc
mount -t sysfs sysfs /sys
mount -t debugfs debugfs /sys/kernel/debug
mount -t tmpfs tmpfs /tmp

P=/proc/simple_config
D=/sys/kernel/debug/board_standin
checks=0
fails=0

ok() { checks=$((checks + 1)); echo "CHECK ok $1"; }
bad() { checks=$((checks + 1)); fails=$((fails + 1)); echo "CHECK FAIL $1: $2"; }
# expect NAME ACTUAL WANTED
expect() { if [ "$2" = "$3" ]; then ok "$1"; else bad "$1" "got '$2', want '$3'"; fi; }
# expect_true NAME DETAIL COMMAND...
expect_true() { n=$1; d=$2; shift 2; if "$@"; then ok "$n"; else bad "$n" "$d"; fi; }
# soon NAME DETAIL COMMAND...: an upper bound on timing, which a stalled
# host can miss with the module right where the guest keeps the host's
# clock; a miss is "LATE", not "FAIL", and run.sh decides what it counts.
late=0
soon() {
	n=$1; d=$2; shift 2
	if "$@"; then ok "$n"; return; fi
	checks=$((checks + 1)); late=$((late + 1)); echo "CHECK LATE $n: $d"
}

values() { cat $D/values; }
mark() { echo mark > $D/events; }
clear_events() { echo clear > $D/events; }
wr() { /procw write "$1" "$2"; }
rd() { /procw read "$1" "${2:-4096}"; }
# Blink writes timed against a marker use the shell's own echo: no fork.
wb() { echo "$1" > $P/rssi_led_blink; }

# Tick statistics of line 3 (LED 1) between marker A and marker B of the
# event log (1-based; B beyond the last marker means the end). Prints
#   1 n  2 first  3 last  4 minint  5 meanint  6 maxint   (us from marker A)
#   7 value of the first write  8 of the last  9 whether they alternate
#  10 jiffies of marker A  11 of the first write  12 of the last
#     (counted from the log's first row, small enough for awk's %d)
#  13 shortest interval in jiffies  14 median interval in jiffies
#  15 median interval in us (a few stalled ticks do not move medians)
# The module programs its timer in jiffies, so intervals in jiffies have
# exact lower bounds; wall-clock ones move with a tick that runs late
# under TCG on a busy host and get only loose bounds.
seg() {
	awk -v a="$1" -v b="$2" '
		NR == 1 { jb = $4 }
		{ $4 -= jb }
		$2 == 255 { m++; if (m == a) { t0 = $1; j0 = $4 } next }
		m >= a && m < b && $2 == 3 {
			t = ($1 - t0) / 1000
			if (n == 0) { first = t; v0 = $3; alt = 1; jf = $4 }
			else {
				d = t - last; s += d
				if (n == 1 || d < mn) mn = d
				if (n == 1 || d > mx) mx = d
				if (n == 1 || $4 - jl < jmn) jmn = $4 - jl
				dj[n] = $4 - jl; dt[n] = d
				if ($3 == lv) alt = 0
			}
			last = t; lv = $3; jl = $4; n++
		}
		function median(a, k,   i, j, x) {
			for (i = 2; i <= k; i++)
				for (j = i; j > 1 && a[j - 1] > a[j]; j--) {
					x = a[j]; a[j] = a[j - 1]; a[j - 1] = x
				}
			return k ? a[int((k + 1) / 2)] : 0
		}
		END {
			mean = n > 1 ? s / (n - 1) : 0
			printf "%d %d %d %d %d %d %d %d %d %d %d %d %d %d %d\n", n, first, last, mn, mean, mx, v0, lv, alt, j0, jf, jl, jmn, median(dj, n - 1), median(dt, n - 1)
		}' /tmp/ev
}

# Jiffies of a period of $1 ms, as msecs_to_jiffies rounds it (up).
pj() { echo $((($1 * HZ + 999) / 1000)); }

# Wait (at most about 4 s) until the level read gives $1.
wait_level() {
	i=0
	while [ $i -lt 400 ]; do
		[ "$(cat $P/rssi_led)" = "$1" ] && return 0
		usleep 10000
		i=$((i + 1))
	done
	return 1
}

echo "VMTEST START smp=$(grep -c ^processor /proc/cpuinfo)"

# --- load ---------------------------------------------------------------
expect_true load_board "insmod board_standin failed" insmod /board_standin.ko
expect_true load_lumabar "insmod lumabar failed" insmod /lumabar.ko
HZ=$(cat $D/hz)

expect dir_present "$(stat -c %F $P 2>&1)" "directory"
expect mode_rssi_led "$(stat -c '%a %F' $P/rssi_led 2>&1)" "644 regular empty file"
expect mode_rssi_led_blink "$(stat -c '%a %F' $P/rssi_led_blink 2>&1)" "644 regular empty file"
expect dir_entries "$(ls $P | tr '\n' ' ')" "rssi_led rssi_led_blink "

expect read_level_after_load "$(rd $P/rssi_led)" 'text=0\n reads=2'
expect read_blink_after_load "$(rd $P/rssi_led_blink)" 'text=0\n reads=2'
expect read_level_bytewise "$(rd $P/rssi_led 1)" 'text=0\n reads=3'
expect read_blink_bytewise "$(rd $P/rssi_led_blink 1)" 'text=0\n reads=3'
expect bar_dark_after_load "$(values)" 00006808

expect lines_requested "$(awk '$4 != "-" { printf "%s %s %s %s;", $1, $2, $3, $4 }' $D/lines)" \
	"3 out 1 rssi1_led;11 out 1 rssi4_led;13 out 1 rssi3_led;14 out 1 rssi2_led;"

want_regs=$(awk 'BEGIN {
	for (i = 0; i < 64; i++) {
		v = "a5a5a5a5"
		if (i == 11 || i == 13) v = "00a5a5a5"
		if (i == 14) v = "a50000a5"
		if (i == 27) v = "a5a5a5a7"
		printf "0x%02x %s;", i * 4, v
	}}')
expect register_words "$(tr '\n' ';' < $D/regs)" "$want_regs"

expect load_message "$(dmesg -r | grep -c '^<6>create proc entry for rssi led success$')" 1

# --- levels -------------------------------------------------------------
for lv in 3:00000800 0:00006808 1:00006800 2:00002800 4:00000000 0:00006808; do
	l=${lv%%:*}
	expect "level_${l}_write" "$(wr $P/rssi_led "$l
")" "ret=2 errno=0"
	expect "level_${l}_lines" "$(values)" "${lv#*:}"
	expect "level_${l}_read" "$(rd $P/rssi_led)" "text=$l\\n reads=2"
done

clear_events
wr $P/rssi_led 2 > /dev/null
expect level_2_write_order "$(awk '{ printf "%s=%s ", $2, $3 }' $D/events)" "14=0 3=0 13=1 11=1 "

for t in 5 100 -1; do
	expect "level_ignored_${t}" "$(wr $P/rssi_led "$t")" "ret=${#t} errno=0"
done
expect level_ignored_lines "$(values)" 00002800
# Numbers beyond an int are refused on both files, not wrapped: on a
# 32-bit kernel "4294967297" would otherwise read as 1.
for t in 4294967297 2147483648 -2147483649 99999999999999; do
	expect "level_out_of_range_${t}" "$(wr $P/rssi_led "$t"; values)" "ret=-1 errno=22
00002800"
done
for t in 4294967297 2147483648 -2147483649 99999999999999; do
	expect "blink_out_of_range_${t}" "$(wr $P/rssi_led_blink "$t"; rd $P/rssi_led_blink)" "ret=-1 errno=22
text=0\n reads=2"
done
expect level_int_max_ignored "$(wr $P/rssi_led 2147483647)" "ret=10 errno=0"

expect level_leading_blank "$(wr $P/rssi_led ' 3')" "ret=2 errno=0"
expect level_leading_blank_lines "$(values)" 00000800
expect level_trailing_text "$(wr $P/rssi_led '1abc')" "ret=4 errno=0"
expect level_trailing_text_lines "$(values)" 00006800
expect level_not_numeric "$(wr $P/rssi_led abc)" "ret=-1 errno=22"
expect level_zero_bytes "$(/procw zero $P/rssi_led)" "ret=-1 errno=22"
expect level_bad_buffer "$(/procw fault $P/rssi_led)" "ret=-1 errno=14"
expect level_failed_writes_lines "$(values)" 00006800
expect level_4k_write "$(/procw fill $P/rssi_led 4096 4)" "ret=4096 errno=0"
expect level_4k_lines "$(values)" 00000000
expect level_4k_not_numeric "$(/procw fill $P/rssi_led 4096 '')" "ret=-1 errno=22"
expect blink_not_numeric_idle "$(wr $P/rssi_led_blink x)" "ret=-1 errno=22"
expect blink_zero_bytes "$(/procw zero $P/rssi_led_blink)" "ret=-1 errno=22"
expect blink_bad_buffer "$(/procw fault $P/rssi_led_blink)" "ret=-1 errno=14"
expect blink_4k_not_numeric "$(/procw fill $P/rssi_led_blink 4096 '')" "ret=-1 errno=22"
expect blink_zero_when_idle "$(wr $P/rssi_led_blink 0)" "ret=1 errno=0"
expect blink_idle_lines "$(values)" 00000000
wr $P/rssi_led 0 > /dev/null

# --- blinking at 200 ms -------------------------------------------------
clear_events
mark
wb 200
expect blink_start_write "$?" 0
expect blink_read "$(rd $P/rssi_led_blink)" 'text=200\n reads=2'
seen=""
i=0
while [ $i -lt 30 ]; do
	v=$(cat $P/rssi_led)
	case " $seen " in *" $v "*) ;; *) seen="$seen $v" ;; esac
	usleep 50000
	i=$((i + 1))
done
seen=$(echo $seen | tr ' ' '\n' | sort | tr '\n' ' ')
expect blink_reads_all_or_none "$seen" "0 4 "
expect blink_level_write_ignored "$(wr $P/rssi_led 2)" "ret=1 errno=0"
expect blink_not_numeric "$(wr $P/rssi_led_blink abc)" "ret=-1 errno=22"
expect blink_4k_write_same_period "$(/procw fill $P/rssi_led_blink 4096 200)" "ret=4096 errno=0"
usleep 300000
mark
expect blink_stop_write "$(wr $P/rssi_led_blink 0)" "ret=1 errno=0"
expect blink_stop_dark "$(values)" 00006808
expect blink_stop_read_level "$(rd $P/rssi_led)" 'text=0\n reads=2'
expect blink_stop_read_blink "$(rd $P/rssi_led_blink)" 'text=0\n reads=2'
cp $D/events /tmp/ev
set -- $(seg 1 2)
j=$(pj 200)
echo "FIGURE blink200 hz=$HZ ticks=$1 jiffies_median=${14} ms_median=$((${15} / 1000)) first_tick_ms=$(($2 / 1000)).$(($2 % 1000 / 100)) interval_ms_min=$(($4 / 1000)).$(($4 % 1000 / 100)) mean=$(($5 / 1000)).$(($5 % 1000 / 100)) max=$(($6 / 1000)).$(($6 % 1000 / 100)) jiffies_first=$((${11} - ${10})) jiffies_min=${13}"
expect_true blink_ticks "only $1 ticks" [ "$1" -ge 8 ]
soon blink_first_tick_at_once "first tick $((${11} - ${10})) jiffies after the write" [ $((${11} - ${10})) -lt "$j" ]
expect blink_first_tick_lights "$7" 0
expect blink_alternates "$9" 1
expect_true blink_interval_min "min interval ${13} jiffies, period $j" [ "${13}" -ge "$j" ]
soon blink_interval_median "median interval ${14} jiffies, period $j" [ $((2 * ${14})) -le $((3 * j)) ]
soon blink_interval_median_wall "median interval ${15}us" [ "${15}" -ge 150000 -a "${15}" -le 300000 ]
expect level_works_after_stop "$(wr $P/rssi_led 3; values)" "ret=1 errno=0
00000800"
wr $P/rssi_led 0 > /dev/null

# --- same period again: no restart ----------------------------------------
# A long period, rewritten three quarters into it: a restart would tick at
# once, a retime from the write 1.75 periods after the last tick, and a
# stalled host has half a period before it looks like the latter.
clear_events
mark
wb 1000
usleep 1750000
mark
expect same_period_write "$(wr $P/rssi_led_blink 1000)" "ret=4 errno=0"
usleep 1500000
mark
wr $P/rssi_led_blink 0 > /dev/null
cp $D/events /tmp/ev
set -- $(seg 1 2); before_last=${12}; before_n=$1
set -- $(seg 2 3)
j=$(pj 1000)
span=$((${11} - before_last))
echo "FIGURE same_period1000 ticks_before=$before_n ticks_after=$1 tick_across_rewrite_jiffies=$span period_jiffies=$j"
if [ "$1" -eq 0 ]; then
	soon same_period_tick_seen "no tick in 1.5 s after the rewrite" false
else
	expect_true same_period_keeps_phase "tick $span jiffies after the previous one" [ "$span" -ge "$j" ]
	soon same_period_not_retimed "tick $span jiffies after the previous one" [ $((2 * span)) -le $((3 * j)) ]
fi

# --- new period while blinking: pending tick keeps its time ---------------
clear_events
mark
wb 500
usleep 700000
mark
expect retime_write "$(wr $P/rssi_led_blink 200)" "ret=3 errno=0"
expect retime_read "$(rd $P/rssi_led_blink)" 'text=200\n reads=2'
usleep 900000
mark
wr $P/rssi_led_blink 0 > /dev/null
cp $D/events /tmp/ev
set -- $(seg 1 2); before_last=${12}; before_n=$1
set -- $(seg 2 3)
j5=$(pj 500); j2=$(pj 200)
due=$((${11} - before_last))
echo "FIGURE retime500to200 ticks_before=$before_n ticks_after=$1 due_tick_jiffies=$due then_jiffies_min=${13} median=${14} then_ms_min=$(($4 / 1000)) max=$(($6 / 1000))"
soon retime_ticks_before "$before_n ticks in 700 ms of a 500 ms period" [ "$before_n" -eq 2 ]
soon retime_ticks_after "$1 ticks in 900 ms after the retime" [ "$1" -ge 3 ]
if [ "$1" -ge 1 ]; then
	expect_true retime_due_tick_kept "due tick $due jiffies after the previous one" [ "$due" -ge "$j5" ]
	soon retime_due_tick_on_time "due tick $due jiffies after the previous one" [ "$due" -le $((2 * j5)) ]
fi
if [ "$1" -ge 2 ]; then
	expect_true retime_new_period "after: min=${13} jiffies" [ "${13}" -ge "$j2" ]
	soon retime_new_period_median "median ${14} jiffies" [ $((2 * ${14})) -le $((3 * j2)) ]
fi

# --- phase carried over a stop --------------------------------------------
# Round 1 stops while lit (the next tick would darken), round 2 while dark.
# phase_round LEVEL...: blink, wait for each level in turn, stop, restart.
phase_round() {
	clear_events
	wb 300
	for l in "$@"; do
		wait_level "$l"
	done
	mark
	wb 0
	usleep 100000
	mark
	wb 300
	usleep 450000
	mark
	wb 0
	cp $D/events /tmp/ev
}
# value of the last tick before the stop, then the restart's statistics
phase_stats() {
	set -- $(awk '$2 == 255 { m++ } m == 0 && $2 == 3 { v = $3 } END { print v }' /tmp/ev) $(seg 2 3)
	echo "$@"
}
# jiffies from the restart's marker to the first lighting write
lit_after_restart() {
	awk '$2 == 255 { m++; if (m == 2) j0 = $4; next }
		m == 2 && $2 == 3 && $3 == 0 { print $4 - j0; exit }' /tmp/ev
}

j=$(pj 300)
phase_round 4
set -- $(phase_stats)
lit_at=$(lit_after_restart)
echo "FIGURE phase_after_lit_stop first_write_ms=$(($3 / 1000)) first_value=$8 lights_after_jiffies=${lit_at:-0} period_jiffies=$j"
expect phase_lit_stop_was_lit "$1" 0
expect phase_lit_stop_first_tick_darkens "$8" 1
expect_true phase_lit_stop_dark_one_period "lit ${lit_at} jiffies after restart" [ "${lit_at:-0}" -ge "$j" ]
soon phase_lit_stop_lights_after_one_period "lit ${lit_at} jiffies after restart" \
	[ "${lit_at:-0}" -le $((2 * j)) ]

phase_round 4 0
set -- $(phase_stats)
echo "FIGURE phase_after_dark_stop first_write_jiffies=$((${12} - ${11})) first_value=$8"
expect phase_dark_stop_was_dark "$1" 1
expect phase_dark_stop_first_tick_lights "$8" 0
# lighting one period late is the fault; anything sooner is a stall at most
soon phase_dark_stop_lights_at_once "lit $((${12} - ${11})) jiffies after restart" [ $((${12} - ${11})) -lt "$j" ]
expect phase_stopped_dark "$(values)" 00006808

# --- unload while blinking, then while showing a level --------------------
wr $P/rssi_led_blink 100 > /dev/null
usleep 350000
expect_true unload_blinking "rmmod failed" rmmod lumabar
expect unload_blinking_dark "$(values)" 00006808
expect_true unload_removes_files "/proc/simple_config still there" [ ! -e $P ]
expect unload_frees_lines "$(awk '$4 != "-"' $D/lines | wc -l)" 0
clear_events
usleep 1000000
expect unload_no_tick_after "$(wc -l < $D/events)" 0

expect_true reload "insmod failed" insmod /lumabar.ko
expect reload_read_blink "$(rd $P/rssi_led_blink)" 'text=0\n reads=2'
expect reload_read_level "$(rd $P/rssi_led)" 'text=0\n reads=2'
expect reload_register_words "$(tr '\n' ';' < $D/regs)" "$want_regs"
wr $P/rssi_led 3 > /dev/null
clear_events
expect_true unload_at_level "rmmod failed" rmmod lumabar
expect unload_at_level_no_writes "$(wc -l < $D/events)" 0
expect unload_at_level_lines "$(values)" 00000800

# --- 100 load/unload cycles, every other one blinking -----------------------
cyc_fail=0
i=0
while [ $i -lt 100 ]; do
	insmod /lumabar.ko || cyc_fail=$((cyc_fail + 1))
	if [ $((i % 2)) -eq 1 ]; then
		echo 20 > $P/rssi_led_blink || cyc_fail=$((cyc_fail + 1))
		usleep 30000
	fi
	rmmod lumabar || cyc_fail=$((cyc_fail + 1))
	i=$((i + 1))
done
expect load_unload_cycles "$cyc_fail" 0
expect_true cycles_no_module_left "lumabar still loaded" [ ! -e /sys/module/lumabar ]

# --- blink writers racing each other ----------------------------------------
insmod /lumabar.ko
w1=; w2=
( while :; do echo 10 > $P/rssi_led_blink; echo 0 > $P/rssi_led_blink; done ) 2>/dev/null &
w1=$!
( while :; do echo 30 > $P/rssi_led_blink; echo 0 > $P/rssi_led_blink; done ) 2>/dev/null &
w2=$!
usleep 1500000
kill $w1 $w2
wait $w1 $w2 2>/dev/null
wb 0
expect racing_writers_stopped "$(rd $P/rssi_led_blink)" 'text=0\n reads=2'
expect_true racing_writers_unload "rmmod failed" rmmod lumabar

# --- unload racing a writer that starts and stops blinking ----------------
race_fail=0
i=0
while [ $i -lt 20 ]; do
	insmod /lumabar.ko || race_fail=$((race_fail + 1))
	( while :; do echo 10 > $P/rssi_led_blink; echo 0 > $P/rssi_led_blink; done ) 2>/dev/null &
	w=$!
	usleep $((20000 + i * 5000))
	rmmod lumabar || race_fail=$((race_fail + 1))
	kill $w
	wait $w 2>/dev/null
	i=$((i + 1))
done
clear_events
usleep 500000
expect unload_race "$race_fail" 0
expect unload_race_no_tick_after "$(wc -l < $D/events)" 0

expect_true unload_board "rmmod board_standin failed" rmmod board_standin

# --- kernel log -------------------------------------------------------------
usleep 200000
expect dmesg_clean "$(dmesg | grep -E 'BUG|WARNING|Oops|Call Trace|general protection|corruption' | head -5)" ""
expect dmesg_no_errors_from_module "$(dmesg -r | grep -c -E '^<3>(invalid gpio|failed to request gpios)')" 0

echo "--- dmesg tail"
dmesg | tail -n 15
echo "VMTEST DONE checks=$checks fails=$fails late=$late"
poweroff -f
