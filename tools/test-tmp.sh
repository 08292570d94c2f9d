# shellcheck shell=bash
# The scratch space of a run of tools/test-all.sh, which sources this before
# its test passes. Every test keeps its scratch files in TMPDIR, a directory
# of this run. As root the run also gets a /tmp of its own (a mount
# namespace; the checkout and the build tree are bound back where they lie
# under /tmp), so that what a test leaves in /tmp is told apart from what
# other programs on the machine keep there. Whatever is left in either when
# the run ends is listed and fails the run.

# vx_tmp_private BUILD CMD...: run CMD in this mount namespace with a fresh
# /tmp, the checkout and BUILD bound back at their paths.
vx_tmp_private() {
	local build=$1 keep=() fds=() p r fd i
	shift
	mkdir -p "$build"
	for p in "$vx_tmp_top" "$build"; do
		r=$(readlink -f "$p")
		case "$r" in
		/tmp/*) r=${r#/tmp/}; keep+=("/tmp/${r%%/*}") ;;
		esac
	done
	mount --make-rprivate / || { echo "test-tmp: cannot make the mounts private"; exit 1; }
	for p in "${keep[@]}"; do
		exec {fd}<"$p" || exit 1
		fds+=("$fd")
	done
	mount -t tmpfs -o mode=1777 vx-test-tmp /tmp || { echo "test-tmp: cannot mount a private /tmp"; exit 1; }
	for i in "${!keep[@]}"; do
		mkdir -p "${keep[$i]}" && mount --no-canonicalize --bind "/proc/self/fd/${fds[$i]}" "${keep[$i]}" ||
			{ echo "test-tmp: cannot keep ${keep[$i]} in the private /tmp"; exit 1; }
	done
	exec "$@"
}

vx_tmp_check() {
	local status=$? left kept
	left=$(find "$TMPDIR" -mindepth 1 -maxdepth 3 2>/dev/null | head -n 40)
	if [ "$VX_TEST_TMP" = ns ]; then
		kept=$(printf '%s\n' "$VX_TEST_TMP_KEPT" "${TMPDIR#/tmp/}")
		left="$left
$(ls -A /tmp | grep -vxF -e "$kept" | sed 's|^|/tmp/|')"
	fi
	rm -rf "$TMPDIR"
	left=$(sed '/^$/d' <<<"$left")
	if [ -n "$left" ]; then
		echo "=== left behind by the tests ==="
		echo "$left"
		exit 1
	fi
	exit "$status"
}

vx_tmp_top=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
if [ "${1:-}" = --private ] && [ "${BASH_SOURCE[0]}" = "$0" ]; then
	shift
	vx_tmp_private "$@"
fi
if [ -z "${VX_TEST_TMP:-}" ] && [ "$(id -u)" = 0 ] && unshare --mount true 2>/dev/null; then
	VX_TEST_TMP=ns exec unshare --mount bash "$vx_tmp_top/tools/test-tmp.sh" --private \
		"${VELOXD_BUILD_ROOT:-$vx_tmp_top/build}" bash "$0" "$@"
fi
# No dot in the name: uci reads a dot in a path given to it as the end of
# the package name.
if [ "${VX_TEST_TMP:-}" = ns ]; then
	VX_TEST_TMP_KEPT=$(ls -A /tmp)
	TMPDIR=$(mktemp -d /tmp/veloxd-tests-XXXXXX) || exit 1
else
	VX_TEST_TMP=dir
	TMPDIR=$(mktemp -d "${TMPDIR:-/tmp}/veloxd-tests-XXXXXX") || exit 1
fi
export TMPDIR VX_TEST_TMP
trap vx_tmp_check EXIT
