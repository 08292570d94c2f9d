# Tiny check helpers for the end-to-end scripts: one line per check, a summary
# line at the end, exit status 1 when anything failed.

VX_PASS=0
VX_FAIL=0
T=$'\t'

vx_ok() {
	VX_PASS=$((VX_PASS + 1))
	echo "ok - $1"
}

vx_not_ok() {
	VX_FAIL=$((VX_FAIL + 1))
	echo "not ok - $1"
	shift
	[ $# -gt 0 ] && printf '%s\n' "$@" | sed 's/^/#   /'
	return 0
}

# vx_expect_eq NAME GOT EXPECTED
vx_expect_eq() {
	if [ "$2" = "$3" ]; then
		vx_ok "$1"
	else
		vx_not_ok "$1" "expected:" "$3" "got:" "$2"
	fi
}

# vx_expect_match NAME GOT EXTENDED_REGEX (whole text, newlines included)
vx_expect_match() {
	if [[ $2 =~ $3 ]]; then
		vx_ok "$1"
	else
		vx_not_ok "$1" "expected to match:" "$3" "got:" "$2"
	fi
}

# vx_expect_true NAME CMD...
vx_expect_true() {
	local name=$1
	shift
	if "$@"; then
		vx_ok "$name"
	else
		vx_not_ok "$name" "failed: $*"
	fi
}

# vx_within NAME GOT EXPECTED PERCENT: |GOT - EXPECTED| <= PERCENT % of EXPECTED
vx_within() {
	if awk -v g="$2" -v e="$3" -v p="$4" 'BEGIN { d = g - e; if (d < 0) d = -d; exit !(d <= e * p / 100) }'; then
		vx_ok "$1 ($2, expected $3 +-$4%)"
	else
		vx_not_ok "$1" "got $2, expected $3 within $4%"
	fi
}

# vx_within_soon NAME EXPECTED PERCENT CMD...: what CMD prints comes within
# PERCENT % of EXPECTED; polled, given up after 30 s (a reading that caught a
# generator's late tick, or one from before a change, does not decide it)
vx_within_soon() {
	local name=$1 want=$2 pct=$3 got i
	shift 3
	for i in $(seq 60); do
		got=$("$@")
		awk -v g="$got" -v e="$want" -v p="$pct" 'BEGIN { d = g - e; if (d < 0) d = -d; exit !(d <= e * p / 100) }' && break
		sleep 0.5
	done
	vx_within "$name" "$got" "$want" "$pct"
}

vx_done() {
	echo "$VX_PASS passed, $VX_FAIL failed"
	[ "$VX_FAIL" = 0 ]
	exit
}

# vx_json_field TEXT NAME: the value of "NAME" in one reply as the CLI prints it (quotes dropped)
vx_json_field() {
	printf '%s\n' "$1" | sed -n "s/^${T}\"$2\": \"\{0,1\}\([^\"]*\)\"\{0,1\},\{0,1\}\$/\1/p"
}
