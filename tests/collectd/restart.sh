#!/usr/bin/env bash
# veloxd and then the bus daemon restarted under a running collectd: the
# source must live on (one process throughout), its values pause and
# resume, and no wild rate may be stored. veloxd comes back with the first
# LAN port's totals starting again from zero, as after a restart on a
# switch whose counters clear when read: a decrease, which collectd's
# DERIVE with minimum 0 must store as a gap.
here=$(cd "$(dirname "$0")" && pwd)
. "$here/lib.sh"
cd_sandbox "$here/restart.sh" "$@"

R1=256000 # PC on port 1 -> router
R2=640000 # router -> PC on port 2
vx_traffic host1 br-lan $R1 >/dev/null
vx_traffic br-lan host2 $R2 >/dev/null

cd_router_conf
cd_start router

# rows INSTANCE: rows with rates of if_octets so far
rows() { cd_row_count router router1 "$1" if_octets; }
# more_rows INSTANCE COUNT: COUNT more than now
wait_more() {
	local want=$(($(rows "$1") + $2))
	cd_wait_rows 200 "$want" router router1 "$1" if_octets
}

vx_expect_true "values stored" wait_more lan2 3
src=$(cd_child router)
vx_expect_true "the source runs" test -n "$src"

# veloxd restarted at once, as its init script respawns it: the source
# finds the new object within one interval, so collectd still holds the
# values before and derives a rate across the restart.
kill "$VX_VELOXD_PID"
wait "$VX_VELOXD_PID" 2>/dev/null
before=$(cd_rows router router1 lan1 if_octets | wc -l)
vx_start_veloxd /tmp/veloxd.log SWITCHSIM_PORT1=iface:sta7
vx_expect_true "values resume after veloxd's restart" wait_more lan2 3
after=$(cd_rows router router1 lan1 if_octets | tail -n +$((before + 1)))
vx_expect_match "lan1's totals restarting give a gap" "$after" '(^|'$'\n'')[0-9.]+,nan,nan'
vx_expect_true "lan1 goes on from its new totals" \
	test "$(printf '%s\n' "$after" | tail -n 1 | cut -d, -f2)" != nan
# A row that comes within two intervals of the one before (collectd's own
# limit for a value to count as missing) has a rate; a restart slower than
# that on a busy machine may leave one gap, which is not the source's doing.
vx_expect_eq "the bridge's kernel totals go on without a gap" \
	"$(cd_rows router router1 bridge if_octets | awk -F, -v max=$((2 * CD_INTERVAL)) \
		'NR > 1 && $2 == "nan" && $1 - t <= max { n++ } { t = $1 } END { print n + 0 }')" 0
vx_expect_eq "the same source after veloxd's restart" "$(cd_child router)" "$src"

# The bus daemon stopped: veloxd leaves with it, and is started again after
# it, as their init scripts do.
kill "$VX_UBUSD_PID"
wait "$VX_UBUSD_PID" 2>/dev/null
vx_expect_true "veloxd leaves with the bus" vx_wait_for 20 test ! -e "/proc/$VX_VELOXD_PID"
sleep $((3 * CD_INTERVAL))
vx_start_ubusd
vx_start_veloxd /tmp/veloxd.log
vx_expect_true "values resume after the bus's restart" wait_more lan2 3
vx_expect_eq "the same source after the bus's restart" "$(cd_child router)" "$src"
vx_within "lan2 tx after both restarts" "$(cd_rows router router1 lan2 if_octets | tail -n 3 | cd_mean 3 2)" $R2 50

cd_check_tame router $((CD_WILD * R2))
# The RRD files hold no wild value either: their largest averages.
wild=""
for f in /tmp/cd-router/rrd/router1/veloxd-*/if_octets*.rrd; do
	max=$(rrdtool fetch "$f" MAX -r $CD_INTERVAL -s -300 | awk -F'[: ]+' 'NF >= 3 {
		for (i = 2; i <= 3; i++) if ($i ~ /^[0-9]/ && $i + 0 > m) m = $i + 0 } END { printf "%.0f", m }')
	[ "$max" -le $((CD_WILD * R2)) ] || wild="$wild $f:$max"
done
vx_expect_eq "no RRD file holds a rate above $((CD_WILD * R2))" "$wild" ""
# Each pause is told once or twice (lost, back), not in every interval.
errors=$(cd_log_lines router 'exec_read_one: error')
vx_expect_true "the source told each pause in a few lines ($errors)" test "$errors" -ge 2 -a "$errors" -le 6
vx_expect_eq "collectd parsed every line" "$(cd_log_lines router 'Unable to parse')" 0
cd_stop router
vx_expect_true "the source ends with collectd" vx_wait_for 20 test ! -e "/proc/$src"
vx_done
