# Sourced by the packaging tests: their check lines, and make run on the
# package directory $pkg by the stand-in of the OpenWrt build system, with
# staging, build and install directories under $tmp.
pass=0
fail=0
ok() { pass=$((pass + 1)); echo "ok - $1"; }
not_ok() { fail=$((fail + 1)); echo "not ok - $1"; [ -n "$2" ] && printf '#   %s\n' "$2"; }
check() { # check NAME CMD...
	name=$1
	shift
	if "$@"; then ok "$name"; else not_ok "$name" "failed: $*"; fi
}

mk() { # mk TARGET...
	make -s -C "$pkg" TOPDIR="$here/sdk" STAGING_DIR="$tmp/staging" BUILD_DIR="$tmp/build" \
		DEST="$tmp/dest" "$@"
}

# The summary line and the exit status of the test.
checks_done() {
	echo "$pass passed, $fail failed"
	[ "$fail" = 0 ]
}
