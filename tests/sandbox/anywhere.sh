#!/usr/bin/env bash
# The sandbox from a checkout and build under /tmp, run by root and by a
# normal user, on a host with and without /etc/config. The programs, their
# libraries, the configuration and the scripts are copied under /tmp, and the
# real checkout and build are hidden, so only the copies can be used. The
# host's /etc is an overlay private to each case, so the case can make
# /etc/config present or absent and check that the sandbox leaves it alone.
#
# Usage: anywhere.sh                       the four cases (as root)
#        anywhere.sh arrange USER STATE    one case, in a private mount namespace
#        anywhere.sh sandbox               the checks inside the sandbox
here=$(cd "$(dirname "$0")" && pwd)
self=$here/anywhere.sh
top=$(cd "$here/../.." && pwd)
. "$top/tools/sandbox.sh"
. "$top/tests/e2e/check.sh"

# Copies of what the sandbox runs, with the libraries the build made.
copy_checkout() {
	local dst=$1 v lib
	mkdir -p "$dst/checkout/tools" "$dst/checkout/tests/e2e" "$dst/checkout/tests/sandbox" \
		"$dst/checkout/config" "$dst/build/lib"
	cp "$top/tools/sandbox.sh" "$dst/checkout/tools/"
	cp "$top/tests/e2e/check.sh" "$dst/checkout/tests/e2e/"
	cp "$self" "$dst/checkout/tests/sandbox/"
	cp "$VX_CONFIG_DIR"/* "$dst/checkout/config/"
	for v in VX_BIN_UBUSD VX_BIN_UBUS VX_BIN_UCI VX_BIN_VELOXD VX_LIB_SWITCHSIM; do
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
	export LD_LIBRARY_PATH=$tmp/build/lib VX_CONFIG_DIR=$tmp/checkout/config
	export VX_BIN_UBUSD=$tmp/build/ubusd VX_BIN_UBUS=$tmp/build/ubus VX_BIN_UCI=$tmp/build/uci
	export VX_BIN_VELOXD=$tmp/build/veloxd VX_LIB_SWITCHSIM=$tmp/build/libswitchsim.so
	for user in root nobody; do
		for state in present absent; do
			echo "# $user, /etc/config $state"
			unshare --mount bash "$tmp/checkout/tests/sandbox/anywhere.sh" arrange $user $state
			status=$?
			if [ $status = "$VX_SKIP" ] && [ $user = nobody ]; then
				vx_skip "unprivileged user namespaces not allowed here"
			fi
			vx_expect_eq "$user, /etc/config $state: the sandbox works from /tmp" "$status" 0
		done
	done
	vx_done
}

# arrange USER STATE: hide the real checkout and build, give /etc a private
# overlay with or without config/, run the sandbox as USER, then check that
# /etc/config is as it was.
arrange() {
	local user=$1 state=$2 d stage
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
	if [ "$user" = nobody ]; then
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
arrange) arrange "$2" "$3";;
sandbox) sandbox;;
*) drive;;
esac
