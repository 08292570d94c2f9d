# Helpers of the collectd tests: the sandbox and check lines of the e2e
# tests, a real collectd (Debian's collectd-core) per role, and readings of
# what its csv plugin stored.
cd_dir=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
. "$cd_dir/../../tools/sandbox.sh"
. "$cd_dir/../e2e/check.sh"

CD_INTERVAL=2
# Times the generated rate above which a stored rate is wild. veloxd's totals
# move once a pass, so an interval can hold the bytes of one pass more than
# its length (1.5 times at 2 s), and of more on a busy machine (2.003 times
# was seen); a wild value, a total that fell to zero and came back, is all
# the bytes so far in one interval: 10 times and more by the bus restart.
CD_WILD=6
CD_PORT=25826
CD_COLLECTD=${VX_COLLECTD:-/usr/sbin/collectd}
CD_PLUGINS=/usr/lib/collectd
CD_TYPES=/usr/share/collectd/types.db

# Before entering the sandbox: what a collectd test needs, or a skip.
cd_require_collectd() {
	[ -x "$CD_COLLECTD" ] || vx_skip "collectd not installed (collectd-core; tools/install-deps.sh)"
	for p in exec csv network logfile ${1:-}; do
		[ -f "$CD_PLUGINS/$p.so" ] || vx_skip "collectd plugin $p missing in $CD_PLUGINS"
	done
	# The exec plugin runs its program as another user, which a user
	# namespace of one mapped id cannot give.
	[ "$(id -u)" = 0 ] || vx_skip "the exec plugin needs root to run the source as nobody"
	id nobody >/dev/null 2>&1 || vx_skip "no user nobody"
	getent group nogroup >/dev/null || vx_skip "no group nogroup"
}

# cd_source: the path of the source for the exec plugin, which runs it as
# nobody: a copy with the build tree's libraries beside it, since the
# checkout and the build may lie where nobody may not look (a directory of
# mode 0700 under /tmp, as mktemp makes it).
cd_source() {
	local dir=/tmp/cd-bin lib
	if [ ! -x "$dir/veloxd-collectd" ]; then
		mkdir -p "$dir/lib"
		cp "$VX_BIN_COLLECTD_SOURCE" "$dir/veloxd-collectd.bin"
		for lib in $(ldd "$VX_BIN_COLLECTD_SOURCE" | awk '$3 ~ /^\// { print $3 }'); do
			case "$lib" in
			/lib/* | /usr/lib/*) ;;
			*) cp "$lib" "$dir/lib/" ;;
			esac
		done
		printf '#!/bin/sh\nLD_LIBRARY_PATH=%s exec %s "$@"\n' "$dir/lib" "$dir/veloxd-collectd.bin" >"$dir/veloxd-collectd"
		chmod -R a+rX "$dir"
		chmod 755 "$dir/veloxd-collectd"
	fi
	echo "$dir/veloxd-collectd"
}

# cd_sandbox SCRIPT ARGS...: SCRIPT again in the sandbox, with ubusd and
# veloxd running there; skips without collectd's rrdtool plugin or rrdtool.
cd_sandbox() {
	local script=$1
	shift
	cd_require_collectd rrdtool
	command -v rrdtool >/dev/null || vx_skip "rrdtool not installed (rrdtool)"
	vx_reexec_in_ns "$script" "$@"
	vx_sandbox_up
	vx_start_ubusd
	vx_start_veloxd /tmp/veloxd.log
}

# cd_router_conf BLOCKS...: the router's collectd, host router1: the source
# under the exec plugin, rates stored by csv and rrdtool, then BLOCKS.
cd_router_conf() {
	cd_conf router router1 \
		'LoadPlugin exec' '<Plugin exec>' "  Exec \"nobody:nogroup\" \"$(cd_source)\"" '</Plugin>' \
		'LoadPlugin csv' '<Plugin csv>' '  DataDir "/tmp/cd-router/csv"' '  StoreRates true' '</Plugin>' \
		'LoadPlugin rrdtool' '<Plugin rrdtool>' '  DataDir "/tmp/cd-router/rrd"' '</Plugin>' "$@"
}

# cd_conf NAME HOSTNAME BLOCKS...: /tmp/cd-NAME/collectd.conf, logging to
# /tmp/cd-NAME/log, storing with csv under /tmp/cd-NAME/csv.
cd_conf() {
	local name=$1 host=$2 dir=/tmp/cd-$1
	shift 2
	mkdir -p "$dir/csv"
	chmod 755 "$dir"
	{
		cat <<-EOF
		Hostname "$host"
		FQDNLookup false
		Interval $CD_INTERVAL
		BaseDir "$dir"
		PIDFile "$dir/collectd.pid"
		PluginDir "$CD_PLUGINS"
		TypesDB "$CD_TYPES"
		LoadPlugin logfile
		<Plugin logfile>
		  LogLevel info
		  File "$dir/log"
		</Plugin>
		EOF
		printf '%s\n' "$@"
	} >"$dir/collectd.conf"
}

# cd_start NAME: collectd in the foreground of a background job; CD_PID_<NAME>.
cd_start() {
	"$CD_COLLECTD" -f -C "/tmp/cd-$1/collectd.conf" >>"/tmp/cd-$1/stdout" 2>&1 &
	eval "CD_PID_$1=$!"
}

# cd_stop NAME: SIGTERM, as an init script stops it; waits for the end.
cd_stop() {
	local pid
	eval "pid=\$CD_PID_$1"
	kill -TERM "$pid" 2>/dev/null
	wait "$pid" 2>/dev/null
}

# cd_child NAME: the pid of the program collectd's exec plugin runs.
cd_child() {
	local pid
	eval "pid=\$CD_PID_$1"
	cat /proc/"$pid"/task/*/children 2>/dev/null | tr ' ' '\n' | sed -n 1p
}

# cd_rows NAME HOST PLUGIN_INSTANCE TYPE: the csv rows stored for one
# identifier today (header dropped), "epoch,rx,tx" each.
cd_rows() {
	cat /tmp/cd-"$1"/csv/"$2"/veloxd-"$3"/"$4"-* 2>/dev/null | grep -v '^epoch'
}

cd_row_count() {
	cd_rows "$@" | grep -c -v ',nan' || true
}

cd_has_rows() { # N NAME HOST INSTANCE TYPE
	local n=$1
	shift
	[ "$(cd_row_count "$@")" -ge "$n" ]
}

# cd_wait_rows SECONDS N NAME HOST INSTANCE TYPE: N rows with rates stored.
cd_wait_rows() {
	local secs=$1
	shift
	vx_wait_for "$secs" cd_has_rows "$@"
}

# cd_mean COLUMN K: the time-weighted mean rate of column 2 (rx) or 3 (tx)
# over the last K rows of stdin, the stored rates as a graph averages them.
cd_mean() {
	awk -F, -v c="$1" -v k="$2" '$c != "nan" { t[n] = $1; r[n] = $c; n++ }
		END { if (n <= k) { print "none"; exit }
		      for (i = n - k; i < n; i++) s += r[i] * (t[i] - t[i - 1])
		      printf "%.1f", s / (t[n - 1] - t[n - k - 1]) }'
}

# cd_max: the largest rate of stdin, both columns.
cd_max() {
	awk -F, '{ for (i = 2; i <= 3; i++) if ($i != "nan" && $i + 0 > m) m = $i + 0 } END { printf "%.1f", m }'
}

# cd_check_tame NAME LIMIT: no stored rate of any file of collectd NAME is
# negative or above LIMIT (a wild value is orders of magnitude above).
cd_check_tame() {
	local bad
	bad=$(find /tmp/cd-"$1"/csv -type f -name 'if_*' -exec awk -F, -v lim="$2" \
		'FNR > 1 { for (i = 2; i <= 3; i++) if ($i != "nan" && ($i + 0 < 0 || $i + 0 > lim)) print FILENAME ": " $0 }' {} +)
	vx_expect_eq "collectd $1 stored no rate below 0 or above $2" "$bad" ""
}

# cd_log_lines NAME PATTERN: how many lines of collectd NAME's log match.
cd_log_lines() {
	grep -c -- "$2" /tmp/cd-"$1"/log 2>/dev/null || true
}
