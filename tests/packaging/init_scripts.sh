#!/bin/sh
# The two init scripts of veloxd: both parse; the procd one restarts veloxd
# on a change of the files read only at start; the one for firmware without
# procd keeps veloxd running through exits and stop ends loop and daemon.
# Runs the older script under every shell at hand (busybox sh is the
# router's), with its paths moved into a scratch directory.
here=$(cd "$(dirname "$0")" && pwd)
files=$here/../../packaging/veloxd/files
. "$here/lib.sh"

shells="sh"
command -v busybox >/dev/null && busybox sh -c : 2>/dev/null && shells="$shells busybox_sh"
busybox_sh() { busybox sh "$@"; }

for sh in $shells; do
	for s in veloxd.init veloxd.rc.init; do
		check "$sh -n $s" $sh -n "$files/$s"
	done
done

# procd: every config file that triggers a reload is also part of the
# instance, or the reload would leave the running veloxd as it is.
calls=$(
	procd_open_instance() { :; }
	procd_close_instance() { :; }
	procd_set_param() { echo "param $*"; }
	procd_add_reload_trigger() { echo "trigger $*"; }
	ln() { :; }
	. "$files/veloxd.init"
	start_service
	service_triggers
)
triggers=$(echo "$calls" | sed -n 's/^trigger //p')
files_param=$(echo "$calls" | sed -n 's/^param file //p')
check "procd: reload triggers on interface and phy_map" [ "$triggers" = "interface phy_map" ]
for t in $triggers; do
	case " $files_param " in
	*" /etc/config/$t "*) ok "procd: $t is an instance file" ;;
	*) not_ok "procd: $t is an instance file" "file parameters: $files_param" ;;
	esac
	check "procd: $t ships as a default file" [ -f "$files/etc/config/$t" ]
done
check "procd: respawned without a retry limit" \
	sh -c 'echo "$1" | grep -qx "param respawn [0-9]* [0-9]* 0"' sh "$calls"

tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT

# wait_for SECONDS CMD...: poll every 0.1 s
wait_for() {
	n=$(($1 * 10))
	shift
	until "$@"; do
		n=$((n - 1))
		[ "$n" -gt 0 ] || return 1
		sleep 0.1
	done
}
starts() { [ "$(wc -l <"$tmp/starts")" -ge "$1" ]; }
# The loop writes the pid file after it started veloxd, which may have
# recorded its start already.
pidfile_names() { [ "$(cat "$tmp/run/veloxd.pid" 2>/dev/null)" = "$1" ]; }
alive() { [ -n "$1" ] && kill -0 "$1" 2>/dev/null; }
dead() { [ -n "$1" ] && ! kill -0 "$1" 2>/dev/null; }

for sh in $shells; do
	rm -rf "${tmp:?}"/*
	mkdir -p "$tmp/run" "$tmp/bin"
	# A veloxd that dies at once the first time, then runs until stopped.
	cat >"$tmp/veloxd" <<FAKE
#!/bin/sh
echo \$\$ >>"$tmp/starts"
echo "veloxd \$\$ up"
[ "\$(wc -l <"$tmp/starts")" -ge 2 ] || exit 0
exec sleep 600
FAKE
	cat >"$tmp/bin/logger" <<FAKE
#!/bin/sh
cat >>"$tmp/syslog"
FAKE
	chmod +x "$tmp/veloxd" "$tmp/bin/logger"
	: >"$tmp/starts"
	# By path: busybox sh would run its own logger applet before any in PATH.
	sed -e "s|^PROG=.*|PROG=$tmp/veloxd|" -e "s|/var/run/|$tmp/run/|" \
		-e "s|^RESPAWN_DELAY=.*|RESPAWN_DELAY=1|" -e "s#| logger #| $tmp/bin/logger #" \
		"$files/veloxd.rc.init" >"$tmp/veloxd.rc"
	rc() { $sh "$here/../../host/base-files/rc.common" "$tmp/veloxd.rc" "$@"; }

	rc start
	check "$sh: veloxd started again after it exited" wait_for 10 starts 2
	second=$(sed -n 2p "$tmp/starts")
	loop=$(cat "$tmp/run/veloxd-loop.pid" 2>/dev/null)
	check "$sh: loop and second veloxd run" alive "$loop"
	check "$sh: pid file names the running veloxd" wait_for 10 pidfile_names "$second"
	rc start
	check "$sh: a second start starts nothing" [ "$(cat "$tmp/run/veloxd-loop.pid")" = "$loop" ]
	check "$sh: veloxd's output reaches syslog" wait_for 10 grep -qs "veloxd $second up" "$tmp/syslog"

	rc stop
	# A killed process is gone once its parent (here init) has reaped it.
	check "$sh: stop ends the loop" wait_for 10 dead "$loop"
	check "$sh: stop ends veloxd" wait_for 10 dead "$second"
	sleep 1.5
	check "$sh: nothing restarts after stop" [ "$(wc -l <"$tmp/starts")" -eq 2 ]
	check "$sh: pid files removed" [ ! -e "$tmp/run/veloxd.pid" ] && [ ! -e "$tmp/run/veloxd-loop.pid" ]
	rc restart
	check "$sh: restart brings veloxd back" wait_for 10 starts 3
	third=$(sed -n 3p "$tmp/starts")
	check "$sh: pid file names the restarted veloxd" wait_for 10 pidfile_names "$third"
	rc stop
	check "$sh: stop after restart ends veloxd" wait_for 10 dead "$third"
	# start returns once veloxd runs, so that a stop right after it ends what
	# it started instead of finding no pid file yet.
	rc start
	check "$sh: start returns with veloxd running and in the pid file" alive "$(cat "$tmp/run/veloxd.pid" 2>/dev/null)"
	rc stop
	fourth=$(sed -n 4p "$tmp/starts")
	sleep 1.5
	check "$sh: a stop right after start leaves no veloxd running" dead "$fourth"
	check "$sh: … and nothing starts it again" [ "$(wc -l <"$tmp/starts")" -eq 4 ]
done

checks_done
