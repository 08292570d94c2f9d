#!/bin/sh
# The veloxd-collectd package Makefile run by the stand-in of the OpenWrt
# build system (tests/packaging/sdk): what it depends on, what it installs
# and with which modes, that it takes only the source's own files, and what
# its uci-defaults script makes of the Statistics app's configuration (run
# with our uci on a copy written after the app's shipped defaults).
here=$(cd "$(dirname "$0")" && pwd)
top=$(cd "$here/../.." && pwd)
pkg=$top/packaging/veloxd-collectd
. "$here/lib.sh"

tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT

deps=$(mk meta-veloxd-collectd | sed -n 's/^depends: //p')
for d in veloxd collectd-mod-exec libubus libubox; do
	check "depends on $d" sh -c 'echo " $1 " | grep -q " +$2 "' sh "$deps" "$d"
done

mkdir -p "$tmp/build/veloxd-collectd-1.0/ipkg-install/usr/libexec"
echo program >"$tmp/build/veloxd-collectd-1.0/ipkg-install/usr/libexec/veloxd-collectd"
check "install step runs" mk install-veloxd-collectd
d=$tmp/dest/veloxd-collectd
check "the program, executable" test -x "$d/usr/libexec/veloxd-collectd"
check "uci-defaults script, executable, as shipped" sh -c \
	'test -x "$1" && cmp -s "$1" "$2"' sh "$d/etc/uci-defaults/80-veloxd-collectd" "$pkg/files/veloxd-collectd.defaults"
# ubusd loads an ACL file only when group and others cannot write it.
check "ubus ACL as shipped, mode 0644" sh -c \
	'cmp -s "$1" "$2" && [ "$(stat -c %a "$1")" = 644 ]' sh "$d/usr/share/acl.d/veloxd-collectd.json" "$pkg/files/veloxd-collectd.acl"
def=www/luci-static/resources/statistics/rrdtool/definitions/veloxd.js
check "graph definition under /www as shipped" cmp -s "$d/$def" "$pkg/htdocs/luci-static/resources/statistics/rrdtool/definitions/veloxd.js"

rm -rf "$tmp/build"
mk prepare
b=$tmp/build/veloxd-collectd-1.0
check "prepare takes the source" test -f "$b/collectd/CMakeLists.txt" -a -f "$b/collectd/main.c"
check "prepare takes the platform's CMake modules" test -f "$b/daemon/cmake/VeloxdPlatform.cmake"
for x in daemon/core daemon/rpc host tests bench; do
	check "prepare leaves out $x/" test ! -e "$b/$x"
done

# The uci-defaults script, with our uci on a private configuration.
if [ ! -x "${VX_BIN_UCI:-}" ]; then
	not_ok "uci-defaults script" "VX_BIN_UCI is not set to the uci tool"
else
	mkdir -p "$tmp/bin" "$tmp/config" "$tmp/save"
	printf '#!/bin/sh\nexec "%s" -c "%s" -t "%s" "$@"\n' "$VX_BIN_UCI" "$tmp/config" "$tmp/save" >"$tmp/bin/uci"
	chmod +x "$tmp/bin/uci"
	defaults() { PATH="$tmp/bin:$PATH" sh "$pkg/files/veloxd-collectd.defaults"; }
	check "without the Statistics app: nothing to do" defaults
	check "without the Statistics app: no configuration made" test ! -e "$tmp/config/luci_statistics"
	cat >"$tmp/config/luci_statistics" <<-'EOF'
	config statistics 'collectd'
		option BaseDir '/var/run/collectd'
		option Interval '30'

	config statistics 'collectd_rrdtool'
		option enable '1'
		option DataDir '/tmp/rrd'

	config statistics 'collectd_exec'
		option enable '0'

	config statistics 'collectd_interface'
		option enable '1'
		option Interfaces 'br-lan'
	EOF
	defaults && defaults
	show=$("$tmp/bin/uci" show luci_statistics)
	expected="luci_statistics.collectd=statistics
luci_statistics.collectd.BaseDir='/var/run/collectd'
luci_statistics.collectd.Interval='30'
luci_statistics.collectd_rrdtool=statistics
luci_statistics.collectd_rrdtool.enable='1'
luci_statistics.collectd_rrdtool.DataDir='/tmp/rrd'
luci_statistics.collectd_exec=statistics
luci_statistics.collectd_exec.enable='1'
luci_statistics.collectd_interface=statistics
luci_statistics.collectd_interface.enable='1'
luci_statistics.collectd_interface.Interfaces='br-lan'
luci_statistics.@collectd_exec_input[0]=collectd_exec_input
luci_statistics.@collectd_exec_input[0].cmdline='/usr/libexec/veloxd-collectd'
luci_statistics.@collectd_exec_input[0].cmduser='nobody'
luci_statistics.@collectd_exec_input[0].cmdgroup='nogroup'"
	if [ "$show" = "$expected" ]; then
		ok "run twice: exec enabled, one exec input, the rest kept"
	else
		not_ok "run twice: exec enabled, one exec input, the rest kept" "$show"
	fi
fi

checks_done
