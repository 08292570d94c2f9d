#!/usr/bin/env bash
# The target libraries the project does not build itself, built for the
# router's CPU into a staging prefix: json-c from Debian's own source package
# and GoogleTest from /usr/src/googletest. Done once per staging directory.
#   mips_stage.sh STAGE_DIR TOOLCHAIN_FILE [CMAKE]
# Exit 77 (skip) only when the Debian archive cannot be reached for the source.
set -u
stage=$1
toolchain=$2
cmake=${3:-cmake}
skip() { echo "SKIP: $*"; exit 77; }
die() { echo "FAIL: $*"; exit 1; }

stamp=$stage/.staged
[ -f "$stamp" ] && [ "$(cat "$stamp")" = "$(md5sum <"$toolchain")" ] && exit 0
rm -rf "$stage"
mkdir -p "$stage/src" || die "cannot create $stage"
log=$stage/stage.log

# deb-src twins of the machine's own Debian entries (its release's suites
# only, so no third-party archive is asked for sources it does not carry).
src_list=/etc/apt/sources.list.d/veloxd-cross-src
derive_sources() {
	local codename
	codename=$(. /etc/os-release && echo "${VERSION_CODENAME:-}")
	[ -n "$codename" ] || return 1
	# deb822 stanzas: Types gains deb-src only; everything else is kept.
	for f in /etc/apt/sources.list.d/*.sources; do
		[ -f "$f" ] && [ "$f" != "$src_list.sources" ] && cat "$f" && echo
	done | awk -v rel="$codename" '
		function flush() {
			if (is_deb && ours && enabled) printf "%s\n", stanza
			stanza = ""; is_deb = 0; ours = 0; enabled = 1
		}
		BEGIN { enabled = 1 }
		/^[ \t]*$/ { flush(); next }
		/^#/ { next }
		/^Types:/ { if ($0 ~ /[ \t]deb([ \t]|$)/) is_deb = 1; stanza = stanza "Types: deb-src\n"; next }
		/^Suites:/ { for (i = 2; i <= NF; i++) if ($i == rel || index($i, rel "-") == 1) ours = 1 }
		/^Enabled:[ \t]*no/ { enabled = 0 }
		{ stanza = stanza $0 "\n" }
		END { flush() }' >"$src_list.sources.new"
	# One-line entries.
	cat /etc/apt/sources.list /etc/apt/sources.list.d/*.list 2>/dev/null | awk -v rel="$codename" '
		$1 != "deb" { next }
		{ k = 1; if ($2 ~ /^\[/) { k = 2; while (k < NF && $k !~ /\]$/) k++ }; s = k + 2 }
		$s == rel || index($s, rel "-") == 1 { sub(/^deb/, "deb-src"); print }' >"$src_list.list.new"
	local f
	for f in "$src_list.sources" "$src_list.list"; do
		if [ -s "$f.new" ]; then mv "$f.new" "$f"; else rm -f "$f.new" "$f"; fi
	done
	[ -f "$src_list.sources" ] || [ -f "$src_list.list" ]
}

update_sources() {
	local f
	for f in "$src_list.sources" "$src_list.list"; do
		[ -f "$f" ] || continue
		apt-get update -q -o Dir::Etc::SourceList="$f" -o Dir::Etc::SourceParts=- \
			-o APT::Get::List-Cleanup=0 -o DPkg::Lock::Timeout=300 >>"$log" 2>&1 || return 1
	done
}

fetch_jsonc() {
	(cd "$stage/src" && apt-get source -q json-c >>"$log" 2>&1)
}

command -v dpkg-source >/dev/null || skip "dpkg-source not installed (dpkg-dev)"
if ! fetch_jsonc; then
	[ "$(id -u)" = 0 ] || skip "no deb-src entry for json-c and not root to add one"
	derive_sources || die "no Debian entry in the apt sources to derive a deb-src entry from"
	update_sources || skip "apt cannot reach the Debian archive: $(tail -n 3 "$log")"
	fetch_jsonc || skip "apt-get source json-c failed: $(tail -n 3 "$log")"
fi
jsonc=$(find "$stage/src" -mindepth 1 -maxdepth 1 -type d -name 'json-c-*' | head -n 1)
[ -n "$jsonc" ] || die "apt-get source json-c left no source tree"

# build NAME SOURCE CMAKE_ARGS...: configure, build and install into the stage
build() {
	local name=$1 src=$2
	shift 2
	"$cmake" -S "$src" -B "$stage/build-$name" -DCMAKE_TOOLCHAIN_FILE="$toolchain" \
		-DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX="$stage" -DCMAKE_INSTALL_LIBDIR=lib "$@" >>"$log" 2>&1 &&
		"$cmake" --build "$stage/build-$name" -j 2 >>"$log" 2>&1 &&
		"$cmake" --install "$stage/build-$name" >>"$log" 2>&1
}
build json-c "$jsonc" -DBUILD_STATIC_LIBS=OFF -DBUILD_TESTING=OFF -DDISABLE_WERROR=ON ||
	{ tail -n 30 "$log"; die "json-c for MIPS did not build"; }
build gtest /usr/src/googletest -DBUILD_GMOCK=OFF -DINSTALL_GTEST=ON ||
	{ tail -n 30 "$log"; die "GoogleTest for MIPS did not build"; }
rm -rf "$stage/build-json-c" "$stage/build-gtest"
md5sum <"$toolchain" >"$stamp"
echo "staged for MIPS: $(basename "$jsonc"), GoogleTest"
