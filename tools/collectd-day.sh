#!/usr/bin/env bash
# Draws docs/img/collectd-day.png and docs/img/collectd-real.png: a day of
# the first LAN port as the Statistics pages graph it, with Debian's
# collectd and rrdtool. A test cannot record a day, so the day is made of
# two parts, both stored by the real collectd into the same RRD files:
#   1. the day up to the last 6 minutes, generated: PUTVAL lines with
#      times in the past, printed by a generator run by collectd's exec
#      plugin as veloxd-collectd is; every 10 s the totals grow by a daily
#      profile (quiet night, a morning rise, an evening peak, fixed noise).
#   2. the last 6 minutes, real: veloxd-collectd reading veloxd in the e2e
#      sandbox while frames flow at known rates, 512000 B/s from the PC on
#      port 1 and 128000 B/s to it.
# Where the two meet, the LAN totals fall from the generated day's to
# veloxd's own: collectd stores a gap there, as it would after a restart.
#
#   tools/collectd-day.sh [OUT_DIR]   (root; takes about 7 minutes)
# Build directory: $VELOXD_BUILD (default build/main).
set -eu
here=$(cd "$(dirname "$0")" && pwd)
top=$(cd "$here/.." && pwd)
out=${1:-$top/docs/img}
. "$top/tools/sandbox.sh"

INTERVAL=10
REAL=360
RX=512000 # PC on port 1 -> router
TX=128000 # router -> PC on port 1

if [ -z "${VX_IN_NS:-}" ]; then
	b=${VELOXD_BUILD:-$top/build/main}
	vx_build_programs "$b"
	command -v rrdtool >/dev/null && [ -x /usr/sbin/collectd ] || { echo "needs collectd-core and rrdtool" >&2; exit 1; }
	mkdir -p "$out"
	VX_OUT=$(cd "$out" && pwd) vx_reexec_in_ns "$0" "$@"
fi

vx_sandbox_up
dir=/tmp/day
mkdir -p "$dir"
chmod 755 "$dir"
end=$(date +%s)

# The generator: lan1, lan2, wired, wlan and bridge of router1, in
# collectd's value order (rx first), then it waits to be stopped.
cat >"$dir/generate" <<EOG
#!/bin/sh
awk -v start=$((end - 86400 + REAL)) -v end=$end -v step=$INTERVAL 'BEGIN {
	srand(7)
	for (t = start + step; t <= end; t += step) {
		h = (t % 86400) / 3600
		# bytes per second by hour: night floor, working day, evening peak
		day = 30000 + 90000 * exp(-((h - 10) ^ 2) / 8) + 260000 * exp(-((h - 20.5) ^ 2) / 3)
		n = 0.8 + 0.4 * rand()
		r1 = day * n; t1 = r1 * 0.22; r2 = day * 0.35 * n; t2 = r2 * 3
		w = day * 0.5 * n
		a1 += r1 * step; b1 += t1 * step; a2 += r2 * step; b2 += t2 * step; aw += w * step; bw += w * 2.5 * step
		put("lan1", "", a1, b1, 1000); put("lan2", "", a2, b2, 1000)
		put("wired", "", a1 + a2, b1 + b2, 1000); put("wlan", "-ap", aw, bw, 1200)
		put("bridge", "", a1 + a2 + aw, b1 + b2 + bw, 1000)
	}
	fflush()
}
function put(inst, ti, rx, tx, size) {
	printf "PUTVAL \"router1/veloxd-%s/if_octets%s\" %d:%.0f:%.0f\n", inst, ti, t, rx, tx
	printf "PUTVAL \"router1/veloxd-%s/if_packets%s\" %d:%.0f:%.0f\n", inst, ti, t, rx / size, tx / size
}'
exec sleep 100000
EOG
chmod 755 "$dir/generate"

conf() { # PROGRAM
	cat >"$dir/collectd.conf" <<EOC
Hostname "router1"
FQDNLookup false
Interval $INTERVAL
BaseDir "$dir"
PIDFile "$dir/collectd.pid"
PluginDir "/usr/lib/collectd"
TypesDB "/usr/share/collectd/types.db"
LoadPlugin logfile
<Plugin logfile>
  File "$dir/log"
</Plugin>
LoadPlugin exec
<Plugin exec>
  Exec "nobody:nogroup" "$1"
</Plugin>
LoadPlugin rrdtool
<Plugin rrdtool>
  DataDir "$dir/rrd"
</Plugin>
EOC
	/usr/sbin/collectd -f -C "$dir/collectd.conf" &
	CD=$!
}
rrd=$dir/rrd/router1/veloxd-lan1/if_octets.rrd
stored_to() { [ -f "$rrd" ] && [ "$(rrdtool last "$rrd")" -ge "$1" ]; }

echo "generating the day ..."
conf "$dir/generate"
vx_wait_for 600 stored_to "$end" || vx_die "the generated day was not stored: $(cat "$dir/log")"
kill -TERM "$CD"; wait "$CD" || true

echo "the real part: $REAL s of veloxd-collectd ..."
vx_start_ubusd
vx_start_veloxd /tmp/veloxd.log
vx_traffic host1 br-lan $RX >/dev/null
vx_traffic br-lan host1 $TX >/dev/null
conf "$VX_BIN_COLLECTD_SOURCE"
sleep $REAL
kill -TERM "$CD"; wait "$CD" || true

# As the definition draws it: transmit up in green, receive down in blue.
graph() { # FILE START TITLE
	rrdtool graph "$1" -a PNG -s "$2" -e "$(rrdtool last "$rrd")" -w 600 -h 150 -t "$3" -v "Bytes/s" \
		"DEF:rx=$rrd:rx:AVERAGE" "DEF:tx=$rrd:tx:AVERAGE" "CDEF:rxneg=rx,-1,*" \
		"AREA:tx#00ff00:Transmit" "GPRINT:tx:AVERAGE:avg %6.1lf %sB/s" "GPRINT:tx:MAX:max %6.1lf %sB/s\\n" \
		"AREA:rxneg#0000ff:Receive " "GPRINT:rx:AVERAGE:avg %6.1lf %sB/s" "GPRINT:rx:MAX:max %6.1lf %sB/s\\n" \
		"HRULE:0#000000" >/dev/null
}
graph "$VX_OUT/collectd-day.png" -86400 "router1: Transfer on lan1 (1 day)"
graph "$VX_OUT/collectd-real.png" -900 "router1: Transfer on lan1 (15 minutes)"
rrdtool fetch "$rrd" AVERAGE -r $INTERVAL -s -300 | awk -F'[: ]+' 'NF >= 3 && $2 ~ /^[0-9]/ { r += $2; t += $3; n++ }
	END { printf "last 5 minutes, stored: rx %.0f B/s, tx %.0f B/s (generated: '$RX', '$TX')\n", r / n, t / n }'
echo "drawn: $VX_OUT/collectd-day.png $VX_OUT/collectd-real.png"
