# The status page on a development PC: ubus-httpd serving the LuCI view and
# the small client runtime, answering the page's bus calls from the sandbox's
# bus. Source it beside the sandbox helpers.
#
#   vx_web_start LOG [ADDR:]PORT [ARGS...]
#                               inside the sandbox: starts the gateway on the
#                               sandbox's bus, listening in the sandbox; sets
#                               VX_WEB_URL and VX_WEB_PID.
#   vx_web_beside_sandbox       before vx_reexec_in_ns: the page for this
#                               machine's browser. The gateway runs here, in
#                               this network namespace and as this user, and
#                               reaches the bus of the sandbox this process
#                               turns into through its root (/proc/PID/root),
#                               which works without privileges too; it ends
#                               with the sandbox.
#   vx_web_url                  inside that sandbox: sets VX_WEB_URL to where
#                               the page is, or VX_WEB_NOTE to why there is none.
#
# Needs VX_BIN_UBUS_HTTPD; the pages come from the source tree.

vx_web_top=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)

# vx_web_args SOCKET: the gateway's arguments for the page: its files, its
# menu (the client runtime's stand-in reads it to tell a read-only login),
# its ACL, and the bus.
vx_web_args() {
	echo "-h $vx_web_top/packaging/luci-app-veloxd/htdocs -h $vx_web_top/host/luci-runtime/htdocs" \
		"-h $vx_web_top/packaging/luci-app-veloxd/root" \
		"-A $vx_web_top/packaging/luci-app-veloxd/root/usr/share/rpcd/acl.d -s $1"
}

# vx_web_run LOG [ADDR:]PORT SOCKET [ARGS...]: the gateway in the background;
# sets VX_WEB_PID and, once it listens, VX_WEB_URL.
vx_web_run() {
	local log=$1 listen=$2 sock=$3 _
	shift 3
	VX_WEB_URL=
	# shellcheck disable=SC2046
	"$VX_BIN_UBUS_HTTPD" -p "$listen" $(vx_web_args "$sock") "$@" </dev/null >"$log" 2>&1 &
	VX_WEB_PID=$!
	for _ in $(seq 200); do
		VX_WEB_URL=$(sed -n 's/^ubus-httpd: listening on \(http:[^ ]*\)$/\1/p' "$log" 2>/dev/null)
		[ -n "$VX_WEB_URL" ] && return 0
		kill -0 "$VX_WEB_PID" 2>/dev/null || break
		sleep 0.05
	done
	kill "$VX_WEB_PID" 2>/dev/null
	wait "$VX_WEB_PID" 2>/dev/null
	return 1
}

vx_web_start() {
	local log=$1 listen=$2
	shift 2
	vx_web_run "$log" "$listen" "$VX_SOCK" "$@" && return 0
	echo "ubus-httpd did not start: $(cat "$log")" >&2
	return 1
}

vx_web_beside_sandbox() {
	local fd
	exec {fd}< <(vx_web_beside "$$")
	VX_WEB_FD=$fd
	export VX_WEB_FD
}

# vx_web_beside PID: run in the background by vx_web_beside_sandbox; PID is
# the process that becomes the sandbox. Says on its output where the page
# is ("http://...") or why there is none ("none: ..."), then keeps the
# gateway until the sandbox is gone.
vx_web_beside() {
	local root=/proc/$1/root sock log
	# Ctrl-C ends the sandbox; this one follows it, whatever fails on the way.
	trap '' INT HUP
	set +e
	if [ -z "${VX_BIN_UBUS_HTTPD:-}" ] || [ ! -x "$VX_BIN_UBUS_HTTPD" ]; then
		echo "none: ubus-httpd is not built (libmicrohttpd-dev missing?)"
		return 0
	fi
	# /var/run is a link to /run on most systems; a link followed through
	# /proc/PID/root would lead back to this side.
	sock=$root$(readlink -f "$(dirname "$VX_SOCK")")/$(basename "$VX_SOCK")
	# Up once the sandbox has a root of its own (before that, its /run is
	# this side's) and its bus listens.
	until [ "$(stat -Lc %d:%i "$root/" 2>/dev/null)" != "$(stat -Lc %d:%i /)" ] && [ -S "$sock" ]; do
		[ -e "$root/" ] || return 0
		sleep 0.1
	done
	log=$(mktemp) || { echo "none: mktemp failed"; return 0; }
	if vx_web_run "$log" "127.0.0.1:${VELOXD_WEB_PORT:-8080}" "$sock" ||
		vx_web_run "$log" 127.0.0.1:0 "$sock"; then
		echo "$VX_WEB_URL"
	else
		echo "none: ubus-httpd did not start: $(tr '\n' ' ' <"$log")"
	fi
	exec >&-
	while [ -n "$VX_WEB_URL" ] && [ -e "$root/" ]; do
		sleep 0.2
	done
	[ -z "$VX_WEB_URL" ] || { kill "$VX_WEB_PID" 2>/dev/null; wait "$VX_WEB_PID" 2>/dev/null; }
	rm -f "$log"
}

vx_web_url() {
	local line=
	VX_WEB_URL='' VX_WEB_NOTE=''
	if [ -z "${VX_WEB_FD:-}" ]; then
		VX_WEB_NOTE="not started"
		return 0
	fi
	read -r -t 30 -u "$VX_WEB_FD" line || line="none: the gateway did not say where it listens"
	exec {VX_WEB_FD}<&-
	case "$line" in
	http://*) VX_WEB_URL=$line ;;
	*) VX_WEB_NOTE=${line#none: } ;;
	esac
}
