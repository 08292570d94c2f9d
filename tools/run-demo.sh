#!/usr/bin/env bash
# Build what is needed and run veloxd on the shipped default configuration,
# the way it runs on the router, inside a private sandbox (tools/sandbox.sh):
#   - network namespace: bridge br-lan with LAN ports swp1, swp2 (switch ports
#     1 and 2 behind eth1, as packaging/veloxd/files/etc/config/phy_map says), the
#     wireless interfaces wlan0 and wlan7, and a "PC" or "station" on the
#     far end of each;
#   - mount namespace: our ubusd on /var/run/ubus.sock, the default uci files
#     at /etc/config and /rom/etc/config, veloxd's init script at
#     /etc/init.d/veloxd;
#   - the switch stand-in preloaded into veloxd, feeding ports 1 and 2 from
#     swp1 and swp2;
#   - a frame generator sending at known rates (inside the sandbox only);
#   - veloxd, started by its init script, and the veloxtop live view
#     refreshed every second;
#   - the status page for a browser on 127.0.0.1:8080 of this machine
#     (tools/web-gateway.sh).
# Runs as root, or as a normal user where unprivileged user namespaces are
# allowed. Everything is torn down on exit or Ctrl-C.
#
# Usage: tools/run-demo.sh [SECONDS]     (or VELOXD_DEMO_SECONDS=SECONDS)
#          Without a duration it runs until Ctrl-C.
#        tools/run-demo.sh --shell [ARGS...]
#          A shell inside the sandbox of the demo running from this checkout,
#          or else in a new one (which ends with the shell), with ubus, uci,
#          veloxd and veloxtop on PATH; ARGS go to bash (e.g. -c COMMANDS).
# VELOXD_WEB_PORT picks another port for the page (0: any free one). With
# VX_BIN_VELOXD set, the programs named by the VX_BIN_* variables are run as
# they are, without a build (as the tests do).
set -eu
top=$(cd "$(dirname "$0")/.." && pwd)
mode=view
seconds=${VELOXD_DEMO_SECONDS:-0}
if [ -n "${VX_IN_NS:-}" ]; then
	mode=${1#--in-sandbox=} seconds=$2
	shift 2
elif [ "${1:-}" = --shell ]; then
	mode=shell
	shift
elif [ $# -gt 0 ]; then
	seconds=$1
	shift
	case "$seconds" in
	'' | *[!0-9]*) echo "usage: $0 [SECONDS] | --shell [BASH ARGS...]" >&2; exit 2 ;;
	esac
fi

# shellcheck source=sandbox.sh
. "$top/tools/sandbox.sh"
# shellcheck source=web-gateway.sh
. "$top/tools/web-gateway.sh"
# shellcheck source=progress.sh
. "$top/tools/progress.sh"

build=$top/build/main
pidfile=$build/demo.pid

# The sandbox's PID 1 of a demo running from this checkout, once its shell
# is there; the demo's first process is unshare, with PID 1 the child of it
# in a PID namespace of its own.
demo_pid1() {
	local pid c _
	pid=$(cat "$pidfile" 2>/dev/null) || return 1
	tr '\0' ' ' 2>/dev/null <"/proc/$pid/cmdline" | grep -q "^unshare .* $top/tools/run-demo.sh" || return 1
	for _ in $(seq 100); do
		for c in $(cat "/proc/$pid/task/$pid/children" 2>/dev/null); do
			[ "$(readlink "/proc/$c/ns/pid")" != "$(readlink "/proc/$pid/ns/pid")" ] &&
				[ -x "/proc/$c/root$VX_SHELL_DIR/shell" ] && echo "$c" && return 0
		done
		kill -0 "$pid" 2>/dev/null || return 1
		sleep 0.1
	done
	return 1
}

# join ARGS...: the shell of vx_shell in the running demo's sandbox.
join() {
	local pid1 flags="--mount --net --pid --root --wd"
	pid1=$(demo_pid1) || return 1
	command -v nsenter >/dev/null || vx_die "nsenter (util-linux) is not installed"
	# Our own user namespace: we are its root already, and it allows no setgroups.
	[ "$(readlink "/proc/$pid1/ns/user")" = "$(readlink /proc/self/ns/user)" ] || flags="--user --preserve-credentials $flags"
	echo "a shell in the sandbox of the running demo (exit leaves it running)"
	# shellcheck disable=SC2086
	exec nsenter --target "$pid1" $flags "$VX_SHELL_DIR/shell" "$@"
}

if [ -z "${VX_IN_NS:-}" ]; then
	[ "$mode" != shell ] || join "$@" || true
	if [ -z "${VX_BIN_VELOXD:-}" ]; then
		"$top/tools/install-deps.sh"
		mkdir -p "$build"
		echo "building into $build ..."
		cmake -S "$top" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVELOXD_FUZZ=OFF >"$build/demo-configure.log" 2>&1 ||
			{ tail -n 40 "$build/demo-configure.log"; exit 1; }
		vx_progress "$build/demo-build.log" "build" cmake --build "$build" -j "$(nproc)" \
			--target veloxd veloxtop switchsim vx_trafgen ubusd ubus_cli uci_cli ubus-httpd ||
			{ tail -n 40 "$build/demo-build.log"; echo "build failed (log: $build/demo-build.log)"; exit 1; }
		vx_build_programs "$build"
		echo $$ >"$pidfile" 2>/dev/null || true
	fi
	for v in VX_BIN_UBUSD VX_BIN_UBUS VX_BIN_UCI VX_BIN_VELOXD VX_BIN_VELOXTOP VX_BIN_TRAFGEN VX_LIB_SWITCHSIM; do
		[ -f "${!v:-}" ] || vx_die "no program at $v=${!v:-}"
		export "${v?}"
	done
	missing=$(vx_missing_tools)
	[ -z "$missing" ] || vx_die "the sandbox needs programs that are not installed: $missing"
	vx_web_beside_sandbox
	vx_reexec_in_ns "$top/tools/run-demo.sh" "--in-sandbox=$mode" "$seconds" "$@"
fi

# From here on: inside the sandbox, as its PID 1.
unit() { awk -v r="$1" 'BEGIN { printf "%.2f", r * 8 / 1024 }'; }
R_IN=256000 R_OUT=640000 R_WLAN=64000

legend() {
	cat <<EOT
veloxd demo: default configuration from packaging/veloxd/files/etc/config (mode ap,
LAN port 0 = switch port 1 = swp1, LAN port 1 = switch port 2 = swp2).
Generated traffic (speeds in 1024 bit/s, as veloxd reports them):
  PC on swp1 -> router      $R_IN B/s   lan0 rx ~ $(unit $R_IN)
  router -> PC on swp2      $R_OUT B/s   lan1 tx ~ $(unit $R_OUT)
  station on wlan0 -> router $R_WLAN B/s   wlan0 rx ~ $(unit $R_WLAN)
  wired total = lan0 + lan1 (speeds only: veloxd keeps no totals for it);
  br-lan rx counts frames without their 14-byte Ethernet header.
EOT
	if [ -n "$VX_WEB_URL" ]; then
		echo "Status page in a browser on this machine: $VX_WEB_URL"
	else
		echo "No status page: $VX_WEB_NOTE"
	fi
}

# The kernel hands PID 1 only the signals it has a handler for, so Ctrl-C
# needs this trap to end the demo; when PID 1 leaves, the kernel ends
# everything else in the sandbox and the namespaces go with it.
finish() {
	trap - INT TERM HUP
	echo
	legend
	echo "demo finished; sandbox, processes and interfaces are gone."
	exit 0
}
trap finish INT TERM HUP

vx_sandbox_up
vx_start_ubusd
vx_shell_up
vx_shell -c '/etc/init.d/veloxd start'
vx_wait_for 10 vx_object_listed || vx_die "veloxd did not publish its object: $(cat /tmp/messages 2>/dev/null)"
vx_traffic host1 br-lan $R_IN >/dev/null
vx_traffic br-lan host2 $R_OUT >/dev/null
vx_traffic sta0 br-lan $R_WLAN >/dev/null
vx_web_url

legend
echo
if [ "$mode" = shell ]; then
	echo "A shell in the sandbox: ubus, uci, veloxd (with the switch stand-in), veloxtop;"
	echo "/etc/init.d/veloxd start|stop|restart, logread -e veloxd. Exit ends the demo."
	vx_shell "$@" || true
	finish
fi
echo "waiting for the first two samples ... ('$0 --shell' in another terminal opens a shell in here)"
sleep 2.5

args=(-s "$VX_SOCK")
[ "$seconds" -gt 0 ] && args+=(-n "$seconds")
"$VX_BIN_VELOXTOP" "${args[@]}" || true
finish
