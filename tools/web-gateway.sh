# The status page on a development PC: ubus-httpd serving the LuCI view and
# the small client runtime, answering the page's bus calls from the sandbox's
# bus. Source it beside the sandbox helpers.
#
#   vx_web_keep_host_netns      before vx_reexec_in_ns: keeps a handle on this
#                               network namespace for the sandbox to listen in
#   vx_web_start LOG [ADDR:]PORT [ARGS...]
#                               inside the sandbox: starts the gateway on the
#                               sandbox's bus; sets VX_WEB_URL and VX_WEB_PID.
#                               It listens in the kept namespace when there is
#                               one and we may enter it, else in the sandbox.
#
# Needs VX_BIN_UBUS_HTTPD; the pages come from the source tree.

vx_web_top=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)

vx_web_keep_host_netns() {
	# The descriptor survives the exec into the namespaces; the sandbox
	# reaches the namespace through it.
	exec 9</proc/self/ns/net
	export VX_WEB_HOST_NETNS=/proc/self/fd/9
}

# The gateway's arguments for the page: its files, its menu (the client
# runtime's stand-in reads it to tell a read-only login), its ACL.
vx_web_args() {
	echo "-h $vx_web_top/packaging/luci-app-veloxd/htdocs -h $vx_web_top/host/luci-runtime/htdocs" \
		"-h $vx_web_top/packaging/luci-app-veloxd/root" \
		"-A $vx_web_top/packaging/luci-app-veloxd/root/usr/share/rpcd/acl.d -s $VX_SOCK"
}

vx_web_start() {
	local log=$1 listen=$2 n
	shift 2
	local -a cmd=("$VX_BIN_UBUS_HTTPD")
	VX_WEB_WHERE=sandbox
	if [ -n "${VX_WEB_HOST_NETNS:-}" ] && command -v nsenter >/dev/null &&
		nsenter --net="$VX_WEB_HOST_NETNS" true 2>/dev/null; then
		cmd=(nsenter --net="$VX_WEB_HOST_NETNS" "$VX_BIN_UBUS_HTTPD")
		VX_WEB_WHERE=host
	fi
	# shellcheck disable=SC2046
	"${cmd[@]}" -p "$listen" $(vx_web_args) "$@" >"$log" 2>&1 &
	VX_WEB_PID=$!
	for n in $(seq 100); do
		VX_WEB_URL=$(sed -n 's/^ubus-httpd: listening on \(http:[^ ]*\)$/\1/p' "$log" 2>/dev/null)
		[ -n "$VX_WEB_URL" ] && return 0
		kill -0 "$VX_WEB_PID" 2>/dev/null || break
		sleep 0.05
	done
	echo "ubus-httpd did not start: $(cat "$log")" >&2
	return 1
}

# For the run command: the page on 127.0.0.1:${VELOXD_WEB_PORT:-8080} of this
# machine, or on a free port when that one is taken; says where.
vx_web_demo() {
	vx_web_start /tmp/ubus-httpd.log "127.0.0.1:${VELOXD_WEB_PORT:-8080}" 2>/dev/null ||
		vx_web_start /tmp/ubus-httpd.log 127.0.0.1:0 || {
		echo "status page not started: $(cat /tmp/ubus-httpd.log)"
		return 0
	}
	if [ "$VX_WEB_WHERE" = host ]; then
		echo "status page: open $VX_WEB_URL in a browser on this machine"
	else
		echo "status page: $VX_WEB_URL, inside the sandbox only (listening on this machine needs root)"
	fi
}
