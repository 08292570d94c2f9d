#!/usr/bin/env bash
# The source under a real collectd as on the router: exec plugin, csv and
# rrdtool storing, the network plugin sending to a central collectd on
# loopback. With frames at known rates on the LAN ports, the bridge and the
# wireless interface, the rates both collectds store must match them
# within 5%, the central one under the router's host name.
here=$(cd "$(dirname "$0")" && pwd)
. "$here/lib.sh"
cd_sandbox "$here/feed.sh" "$@"

R1=256000 # PC on port 1 -> router
R2=640000 # router -> PC on port 2
R3=192000 # station on the AP interface -> router
FRAME=1000
vx_traffic host1 br-lan $R1 >/dev/null
vx_traffic br-lan host2 $R2 >/dev/null
vx_traffic sta0 br-lan $R3 >/dev/null

cd_conf central central \
	'LoadPlugin network' '<Plugin network>' "  Listen \"127.0.0.1\" \"$CD_PORT\"" '</Plugin>' \
	'LoadPlugin csv' '<Plugin csv>' '  DataDir "/tmp/cd-central/csv"' '  StoreRates false' '</Plugin>'
cd_router_conf \
	'LoadPlugin network' '<Plugin network>' "  Server \"127.0.0.1\" \"$CD_PORT\"" '</Plugin>'
cd_start central
cd_start router

# 15 rates of 2 s each: a window that one sampling period of veloxd (the
# age of the totals read) can move by at most 1/30.
K=15
# The wireless series starts a round after the others.
if ! cd_wait_rows 400 $((K + 1)) router router1 wlan if_octets-ap; then
	vx_not_ok "collectd stored rates" "$(cat /tmp/cd-router/log)"
	vx_done
fi

within() { # NAME INSTANCE TYPE COLUMN EXPECTED
	vx_within "$1" "$(cd_rows router router1 "$2" "$3" | cd_mean "$4" $K)" "$5" 5
}
BRIDGE_RX=$(awk -v r=$((R1 + R3)) -v f=$FRAME 'BEGIN { print r * (f - 14) / f }')
within "lan1 if_octets rx" lan1 if_octets 2 $R1
within "lan1 if_packets rx" lan1 if_packets 2 $((R1 / FRAME))
within "lan2 if_octets tx" lan2 if_octets 3 $R2
within "lan2 if_packets tx" lan2 if_packets 3 $((R2 / FRAME))
within "wired if_octets rx: the sum of both ports" wired if_octets 2 $R1
within "wired if_octets tx: the sum of both ports" wired if_octets 3 $R2
within "bridge if_octets rx" bridge if_octets 2 "$BRIDGE_RX"
within "bridge if_octets tx" bridge if_octets 3 $R2
within "wlan (mode ap) if_octets rx" wlan if_octets-ap 2 $R3
vx_within "lan1 if_octets tx stays idle" "$(cd_rows router router1 lan1 if_octets | cd_mean 3 $K)" 0 100

# The RRD file: DERIVE with minimum 0, and its averages agree too.
rrd=/tmp/cd-router/rrd/router1/veloxd-lan1/if_octets.rrd
info=$(rrdtool info "$rrd")
vx_expect_match "lan1 if_octets.rrd: rx is DERIVE, min 0, step $CD_INTERVAL" "$info" \
	"step = $CD_INTERVAL.*ds\[rx\]\.type = \"DERIVE\".*ds\[rx\]\.min = 0"
last=$(rrdtool last "$rrd")
avg=$(rrdtool fetch "$rrd" AVERAGE -r $CD_INTERVAL -s $((last - 2 * K)) -e "$last" |
	awk -F'[: ]+' 'NF >= 3 && $2 ~ /^[0-9]/ { s += $2; n++ } END { if (n) printf "%.1f", s / n }')
vx_within "lan1 if_octets.rrd rx average" "$avg" $R1 5

# Nothing else under the router's host: only the five instances, and wlan
# only for the mode's interface.
got=$(cd /tmp/cd-router/csv/router1 && ls -d veloxd-* | tr '\n' ' ')
vx_expect_eq "instances stored" "$got" "veloxd-bridge veloxd-lan1 veloxd-lan2 veloxd-wired veloxd-wlan "
got=$(cd /tmp/cd-router/csv/router1/veloxd-wlan && ls | sed 's/-[0-9-]*$//' | sort -u | tr '\n' ' ')
vx_expect_eq "wlan series of mode ap" "$got" "if_octets-ap if_packets-ap "

# The central collectd: the router's values under the router's name, its raw
# totals, the same rates.
vx_wait_for 60 cd_has_rows 2 central router1 lan1 if_octets
vx_expect_eq "central stores nothing under its own name" "$(ls /tmp/cd-central/csv)" router1
raw_rate() { # INSTANCE TYPE COLUMN: from the first and last raw totals stored
	cd_rows central router1 "$1" "$2" | awk -F, -v c="$3" 'NR == 1 { t0 = $1; v0 = $c } { t = $1; v = $c }
		END { if (t > t0) printf "%.1f", (v - v0) / (t - t0) }'
}
vx_expect_match "central stores raw totals" "$(cd_rows central router1 lan2 if_octets | tail -n 1)" \
	'^[0-9.]+,[0-9]+,[0-9]+$'
vx_within "central lan1 if_octets rx" "$(raw_rate lan1 if_octets 2)" $R1 5
vx_within "central lan2 if_octets tx" "$(raw_rate lan2 if_octets 3)" $R2 5
vx_within "central wlan if_octets-ap rx" "$(raw_rate wlan if_octets-ap 2)" $R3 5

cd_check_tame router $((CD_WILD * R2))
vx_expect_eq "collectd parsed every line" "$(cd_log_lines router 'Unable to parse')" 0
vx_expect_eq "the source wrote nothing on stderr" "$(cd_log_lines router 'exec_read_one: error')" 0

# Stopping collectd stops the source.
src=$(cd_child router)
cd_stop router
vx_expect_true "the source ends with collectd" vx_wait_for 20 test ! -e "/proc/$src"
cd_stop central
vx_done
