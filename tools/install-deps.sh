#!/usr/bin/env bash
# Install the Debian 12 packages the build and the tests need, if missing,
# saying which and showing apt-get's progress.
set -eu
pkgs="build-essential cmake pkg-config clang libclang-rt-14-dev libgtest-dev libjson-c-dev
      iproute2 valgrind qemu-system-x86 linux-image-amd64 linux-headers-amd64 busybox-static
      cpio kmod g++-mips-linux-gnu qemu-user googletest
      libmicrohttpd-dev chromium nodejs curl"
pkgs="$pkgs collectd-core rrdtool"
missing=""
for p in $pkgs; do
	dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing="$missing $p"
done
# Some node builds carry npm themselves; Debian's splits it out.
command -v npm >/dev/null || missing="$missing npm"
[ -z "$missing" ] && exit 0
if [ "$(id -u)" != 0 ]; then
	SUDO=sudo
else
	SUDO=
fi
echo "installing with apt-get (a few minutes on a fresh machine):$missing"
export DEBIAN_FRONTEND=noninteractive
# A terminal gets apt's progress bar; a log gets its lines.
progress=
[ -t 1 ] && progress="-o Dpkg::Progress-Fancy=1"
$SUDO apt-get update -q
# shellcheck disable=SC2086
$SUDO apt-get install -y -q $progress --no-install-recommends $missing
echo "installed:$missing"
