#!/usr/bin/env bash
# The sandbox from a checkout and build under /tmp, run by root and by a
# normal user, on a host with and without /etc/config. The programs, their
# libraries, the configuration and the scripts are copied under /tmp, and the
# real checkout and build are hidden, so only the copies can be used. The
# host's /etc is an overlay private to each case, so the case can make
# /etc/config present or absent and check that the sandbox leaves it alone.
# Then the run command itself, by both users with a normal user's PATH: the
# status page at the URL it prints, read from this side, and nothing left of
# it when it ends.
#
# Usage: anywhere.sh                            the cases (as root)
#        anywhere.sh arrange USER STATE WHAT    one case, in a private mount
#                                               namespace; WHAT is sandbox or demo
#        anywhere.sh sandbox                    the checks inside the sandbox
here=$(cd "$(dirname "$0")" && pwd)
self=$here/anywhere.sh
top=$(cd "$here/../.." && pwd)
. "$top/tools/sandbox.sh"
. "$top/tests/e2e/check.sh"

# The programs the cases run, the page's gateway when it is built.
programs="VX_BIN_UBUSD VX_BIN_UBUS VX_BIN_UCI VX_BIN_VELOXD VX_BIN_VELOXTOP VX_BIN_TRAFGEN VX_LIB_SWITCHSIM"
[ -z "${VX_BIN_UBUS_HTTPD:-}" ] || programs="$programs VX_BIN_UBUS_HTTPD"

# Copies of what the sandbox and the run command use, with the libraries the
# build made.
copy_checkout() {
	local dst=$1 v lib
	mkdir -p "$dst/checkout/tests/e2e" "$dst/checkout/tests/sandbox" "$dst/checkout/host" "$dst/build/lib"
	cp -r "$top/tools" "$top/packaging" "$dst/checkout/"
	cp -r "$top/host/base-files" "$top/host/luci-runtime" "$dst/checkout/host/"
	cp "$top/tests/e2e/check.sh" "$dst/checkout/tests/e2e/"
	cp "$self" "$dst/checkout/tests/sandbox/"
	for v in $programs; do
		cp "${!v}" "$dst/build/"
		for lib in $(ldd "${!v}" | awk '{ print $3 }' | grep "^$VX_BUILD_DIR/"); do
			cp -n "$lib" "$dst/build/lib/"
		done
	done
	chmod -R a+rX "$dst"
}

drive() {
	local tmp user state status
	[ "$(id -u)" = 0 ] || vx_skip "needs root to arrange /etc/config and to act as a normal user"
	command -v setpriv >/dev/null || vx_skip "setpriv (util-linux) not installed"
	: "${VX_BUILD_DIR:?}"
	tmp=$(mktemp -d /tmp/vx-anywhere.XXXXXX) || vx_die "mktemp failed"
	trap 'rm -rf "$tmp"' EXIT
	copy_checkout "$tmp"
	# The build first: it may lie inside the checkout.
	export VX_HIDE="$VX_BUILD_DIR $top"
	export LD_LIBRARY_PATH=$tmp/build/lib VX_CONFIG_DIR=$tmp/checkout/packaging/veloxd/files/etc/config
	for v in $programs; do
		export "$v=$tmp/build/$(basename "${!v}")"
	done
	for user in root nobody; do
		for state in present absent; do
			echo "# $user, /etc/config $state"
			unshare --mount bash "$tmp/checkout/tests/sandbox/anywhere.sh" arrange $user $state sandbox
			status=$?
			if [ $status = "$VX_SKIP" ] && [ $user = nobody ]; then
				vx_skip "unprivileged user namespaces not allowed here"
			fi
			vx_expect_eq "$user, /etc/config $state: the sandbox works from /tmp" "$status" 0
		done
	done
	for user in root nobody; do
		echo "# $user, the run command"
		unshare --mount bash "$tmp/checkout/tests/sandbox/anywhere.sh" arrange $user absent demo
		vx_expect_eq "$user: the run command serves the page from /tmp" "$?" 0
	done
	vx_done
}

# as USER CMD...: becomes CMD as USER, with a normal user's PATH and nothing else
# of this environment but the programs.
as() {
	local user=$1 v
	local -a env=(HOME=/ PATH=/usr/local/bin:/usr/bin:/bin LD_LIBRARY_PATH="$LD_LIBRARY_PATH"
		VX_CONFIG_DIR="$VX_CONFIG_DIR" VELOXD_WEB_PORT=0)
	shift
	for v in $programs; do
		env+=("$v=${!v}")
	done
	if [ "$user" = nobody ]; then
		exec setpriv --reuid=65534 --regid=65534 --clear-groups -- env -i --default-signal=INT "${env[@]}" "$@"
	fi
	exec env -i --default-signal=INT "${env[@]}" "$@"
}

# rpc URL METHOD SESSION OBJECT [ARGS]: one call through the page's endpoint
rpc() {
	curl -s -m 10 -d "{\"jsonrpc\":\"2.0\",\"id\":1,\"method\":\"call\",\"params\":[\"$3\",\"$4\",\"$2\",${5:-{\}}]}" "${1}ubus"
}

# demo USER: the run command in the background; the page at the URL it
# prints, read from here: the page itself, and a call through it that
# reaches veloxd in the sandbox. Ctrl-C ends it (SIGINT to its process
# group), and the page is gone with it. Without the gateway it must say
# that there is no page instead.
demo() {
	local out=${VX_HIDE##* }/demo.out pid url sid line start=$SECONDS
	as "$1" setsid bash "$here/../../tools/run-demo.sh" >"$out" 2>&1 &
	pid=$!
	until line=$(grep -E '^(Status page in a browser on this machine|No status page): ' "$out"); do
		kill -0 "$pid" 2>/dev/null && [ "$SECONDS" -lt $((start + 120)) ] || break
		sleep 0.1
	done
	url=$(echo "$line" | sed -n 's/^Status page in a browser on this machine: \(http[^ ]*\)$/\1/p')
	if [ -z "${VX_BIN_UBUS_HTTPD:-}" ]; then
		vx_expect_match "without the gateway it says there is no page" "$line" '^No status page: ubus-httpd is not built'
	elif [ -z "$url" ]; then
		vx_not_ok "a URL is printed" "$(head -n 40 "$out")"
	else
		vx_expect_true "the page is served at $url" sh -c "curl -s -m 10 '$url' | grep -q 'luci.js'"
		sid=$(rpc "$url" login 00000000000000000000000000000000 session '{"username":"root","password":"x"}' |
			sed -n 's/.*"ubus_rpc_session":"\([0-9a-f]*\)".*/\1/p')
		vx_expect_eq "a call through the page reaches veloxd" "$(rpc "$url" get_interface_list "$sid" veloxd)" \
			'{"jsonrpc":"2.0","id":1,"result":[0,{"list":[0,1,2,3,9]}]}'
	fi
	kill -INT -- -"$pid"
	wait "$pid"
	vx_expect_true "Ctrl-C ends it" grep -q '^demo finished' "$out"
	[ -z "$url" ] || vx_expect_true "the page goes with the sandbox" \
		vx_wait_for 10 sh -c "! curl -s -m 2 '$url' >/dev/null"
}

# arrange USER STATE WHAT: hide the real checkout and build, give /etc a
# private overlay with or without config/, run the sandbox or the run
# command as USER, then check that /etc/config is as it was.
arrange() {
	local user=$1 state=$2 what=$3 d stage
	cd / || exit 1
	mount --make-rprivate /
	for d in $VX_HIDE; do
		[ -d "$d" ] && mount -t tmpfs -o mode=0755 vx-hidden "$d"
	done
	stage=${VX_HIDE##* }
	mkdir "$stage/upper" "$stage/work"
	mount -t overlay vx-host-etc -o "lowerdir=/etc,upperdir=$stage/upper,workdir=$stage/work" /etc ||
		vx_die "cannot lay an overlay over /etc"
	rm -rf /etc/config
	if [ "$state" = present ]; then
		mkdir /etc/config && echo host >/etc/config/wireless
	fi
	if [ "$what" = demo ]; then
		demo "$user"
		[ "$VX_FAIL" = 0 ]
	elif [ "$user" = nobody ]; then
		setpriv --reuid=65534 --regid=65534 --clear-groups -- bash "$self" sandbox
	else
		bash "$self" sandbox
	fi
	local status=$?
	[ $status = 0 ] || exit $status
	if [ "$state" = present ]; then
		vx_expect_eq "the host's /etc/config is left as it was" "$(ls /etc/config):$(cat /etc/config/wireless)" "wireless:host"
	else
		vx_expect_true "the host still has no /etc/config" test ! -e /etc/config
	fi
	vx_done
}

sandbox() {
	vx_reexec_in_ns "$self" sandbox
	vx_sandbox_up
	vx_start_ubusd
	vx_start_veloxd /tmp/veloxd.log
	vx_expect_eq "veloxd answers" "$(vx_ubus -S call veloxd test)" '{"error_code":0}'
	vx_expect_eq "/etc/config holds the shipped configuration only" "$(cd /etc/config && echo *)" "interface opmode phy_map"
	vx_expect_eq "the mode is read from it" "$(vx_ubus -S call veloxd get_interface_list)" '{"list":[0,1,2,3,9]}'
	vx_uci set opmode.op.mode=client && vx_uci commit opmode
	vx_expect_eq "and a change committed to it is seen" "$(vx_ubus -S call veloxd get_interface_list)" '{"list":[0,1,2,7,9]}'
	vx_done
}

case "${1:-}" in
arrange) arrange "$2" "$3" "$4";;
sandbox) sandbox;;
*) drive;;
esac
