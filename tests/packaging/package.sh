#!/bin/sh
# The veloxd package Makefile run by a stand-in of the OpenWrt build system
# (tests/packaging/sdk: no SDK can be had here): what it depends on in the
# 12.09 generation and in later ones, which init script it installs, that
# its conffiles are installed, and that it takes only the daemon's sources,
# from the checkout the package directory lies in.
here=$(cd "$(dirname "$0")" && pwd)
top=$(cd "$here/../.." && pwd)
pkg=$top/packaging/veloxd
. "$here/lib.sh"

tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT

# sdk GEN: a staging directory with the json-c headers of that generation
sdk() {
	rm -rf "$tmp/staging" "$tmp/build" "$tmp/dest"
	mkdir -p "$tmp/staging/usr/include/json" "$tmp/staging/usr/include/json-c"
	case $1 in
	12.09) rmdir "$tmp/staging/usr/include/json-c" ;;
	15.05) rmdir "$tmp/staging/usr/include/json" ;;
	esac
	for d in json json-c; do
		[ -d "$tmp/staging/usr/include/$d" ] && : >"$tmp/staging/usr/include/$d/json.h"
	done
	# What the build step would leave behind.
	mkdir -p "$tmp/build/veloxd-1.0/ipkg-install/usr/sbin"
	echo veloxd >"$tmp/build/veloxd-1.0/ipkg-install/usr/sbin/veloxd"
	echo veloxtop >"$tmp/build/veloxd-1.0/ipkg-install/usr/sbin/veloxtop"
}

for gen in 12.09 14.07 15.05; do
	sdk $gen
	meta=$(mk meta-veloxd)
	deps=$(echo "$meta" | sed -n 's/^depends: //p')
	if [ $gen = 12.09 ]; then json=libjson init=veloxd.rc.init; else json=libjson-c init=veloxd.init; fi
	check "$gen: depends on $json" sh -c 'echo " $1 " | grep -q " +$2 "' sh "$deps" "$json"
	for lib in libubus libubox libuci libblobmsg-json USE_UCLIBC:libpthread; do
		check "$gen: depends on $lib" sh -c 'echo " $1 " | grep -q " +$2 "' sh "$deps" "$lib"
	done
	check "$gen: install step runs" mk install-veloxd
	check "$gen: installs $init as the init script" cmp -s "$pkg/files/$init" "$tmp/dest/veloxd/etc/init.d/veloxd"
	check "$gen: init script and daemon are executable" \
		test -x "$tmp/dest/veloxd/etc/init.d/veloxd" -a -x "$tmp/dest/veloxd/usr/sbin/veloxd"
	for f in $(echo "$meta" | grep '^/'); do
		check "$gen: conffile $f installed as shipped" cmp -s "$pkg/files$f" "$tmp/dest/veloxd$f"
	done
	check "$gen: three conffiles" [ "$(echo "$meta" | grep -c '^/etc/config/')" = 3 ]
done

sdk 12.09
check "VELOXD_NO_PROCD=0 overrides the guess" sh -c 'make -s -C "$1" TOPDIR="$2" STAGING_DIR="$3" BUILD_DIR="$4" \
	DEST="$5" VELOXD_NO_PROCD=0 install-veloxd && grep -q USE_PROCD "$5/veloxd/etc/init.d/veloxd"' \
	sh "$pkg" "$here/sdk" "$tmp/staging" "$tmp/build" "$tmp/dest"

rm -rf "$tmp/build"
mk prepare
check "prepare takes the daemon's sources" test -f "$tmp/build/veloxd-1.0/daemon/CMakeLists.txt"
check "prepare takes veloxtop" test -f "$tmp/build/veloxd-1.0/veloxtop/veloxtop.c"
for d in host tests bench kmod; do
	check "prepare leaves out $d/" test ! -e "$tmp/build/veloxd-1.0/$d"
done

checks_done
