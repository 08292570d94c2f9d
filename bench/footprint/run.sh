#!/usr/bin/env bash
# Footprint of veloxd (a benchmark, not a test).
#
# Builds veloxd at -Os for x86-64 and for MIPS32r2 (PIE, non-PIE, and MIPS16e
# non-PIE), each in a build directory of its own, and prints per build the
# stripped size of veloxd, .text/.data/.bss of the daemon's own objects and
# the shared libraries it needs. Then runs the x86-64 PIE build in the e2e
# sandbox with the real bus, the sampler, traffic through the bridge and a
# client polling all six methods and the history of every slot, until its
# history is full and then for SECONDS more (default 60), and prints resident
# and private dirty memory, threads and open descriptors every ten seconds.
#
# The history fills in seconds, not a day: bench/footprint/fastclock.c,
# preloaded into veloxd, makes each sampler cycle 20 ms long and 300 s of
# its monotonic clock, so every pass closes a five-minute interval. The two
# LAN ports (switch stand-in scripts) move a gigabit's five minutes in each
# pass, so the largest reply, a day of a LAN port, has the figures of a
# loaded router: "976562.50" and "37500000000".
#
# Targets: stripped MIPS32r2 veloxd at most 20 KiB; private dirty memory at
# most 256 KiB with the history full (without the mappings of the two
# stand-ins, which the router does not have); no growth from the 10th
# second after the history is full to the last.
#
#   bench/footprint/run.sh [SECONDS]      (root, or unprivileged user namespaces)
# Build directories: $VELOXD_FOOTPRINT_BUILD (default build/footprint).
set -eu
here=$(cd "$(dirname "$0")" && pwd)
top=$(cd "$here/../.." && pwd)
seconds=${1:-60}
case "$seconds" in
'' | *[!0-9]* | 0 | ?) echo "usage: $0 [SECONDS >= 10]" >&2; exit 2;;
esac
# shellcheck source=../../tools/sandbox.sh
. "$top/tools/sandbox.sh"

KIB_TARGET_STRIPPED=20
KIB_TARGET_DIRTY=256

# --- builds ---------------------------------------------------------------

out=${VELOXD_FOOTPRINT_BUILD:-$top/build/footprint}

# build DIR ARCH NO_PIE MIPS16 TARGETS...
build() {
	local dir=$1 arch=$2 nopie=$3 mips16=$4
	shift 4
	# No build-tree run path: an installed veloxd has none either.
	local args=(-DCMAKE_BUILD_TYPE=MinSizeRel -DVELOXD_FUZZ=OFF -DCMAKE_SKIP_BUILD_RPATH=ON
		-DCMAKE_PROJECT_INCLUDE="$here/daemon_flags.cmake"
		-DFOOTPRINT_NO_PIE="$nopie" -DFOOTPRINT_MIPS16="$mips16")
	if [ "$arch" = mips ]; then
		args+=(-DCMAKE_TOOLCHAIN_FILE="$top/cmake/toolchain-mips-linux-gnu.cmake"
			-DVELOXD_MIPS_STAGE="$out/mips-stage" -DBUILD_TESTING=OFF)
	elif [ "$*" = veloxd ]; then
		args+=(-DBUILD_TESTING=OFF)
	fi
	cmake -S "$top" -B "$dir" "${args[@]}" >"$dir.configure.log" 2>&1 ||
		{ cat "$dir.configure.log"; exit 1; }
	cmake --build "$dir" -j 2 --target "$@" >"$dir.build.log" 2>&1 ||
		{ tail -n 40 "$dir.build.log"; exit 1; }
}

program() { # the built veloxd of a build directory
	find "$1" -type f -name veloxd -path '*/daemon/*' | head -n 1
}

# report NAME DIR TOOL_PREFIX: one row of the table
report() {
	local name=$1 dir=$2 pfx=$3 bin stripped more own needs
	bin=$(program "$dir")
	"${pfx}strip" --strip-all -o "$dir/veloxd.stripped" "$bin"
	stripped=$(stat -c %s "$dir/veloxd.stripped")
	# What a package build's strip step also drops: sections nothing loads.
	"${pfx}strip" --strip-all -R .pdr -R .comment -R .gnu.attributes -o "$dir/veloxd.stripped-more" "$bin"
	more=$(stat -c %s "$dir/veloxd.stripped-more")
	# shellcheck disable=SC2046
	own=$("${pfx}size" -t $(find "$dir/daemon" -name '*.o' | sort) | awk '/TOTALS/ { print $1, $2, $3 }')
	needs=$(readelf -d "$bin" | sed -n 's/.*(NEEDED).*\[\(.*\)\]/\1/p' | tr '\n' ' ')
	# shellcheck disable=SC2086
	printf '%-28s %9s %9s %7s %6s %6s  %s\n' "$name" "$stripped" "$more" $own "$needs"
	case " $needs" in
	*" libstdc++"* | *" libatomic"*) echo "  ^ NEEDS THE C++ RUNTIME OR LIBATOMIC"; runtime_needed=1;;
	esac
	eval "STRIPPED_$(echo "$name" | tr -c 'A-Za-z0-9\n' _)=$stripped"
}

# Biggest contributors to a stripped program: its sections, the daemon's objects.
contributors() {
	local dir=$1 pfx=$2
	echo "sections of the stripped program (bytes):"
	"${pfx}size" -A "$dir/veloxd.stripped" | awk 'NR > 2 && $2 > 0 && $1 != "Total"' | sort -k2 -n -r | head -n 12 |
		awk '{ printf "  %-20s %6d\n", $1, $2 }'
	echo "the daemon's objects (text data bss):"
	# shellcheck disable=SC2046
	"${pfx}size" $(find "$dir/daemon" -name '*.o') | awk 'NR > 1 { n = $6; sub(".*/", "", n); printf "  %-26s %6d %5d %5d\n", n, $1, $2, $3 }' | sort -k2 -n -r
}

if [ -z "${VX_IN_NS:-}" ]; then
	mkdir -p "$out"
	command -v mips-linux-gnu-gcc >/dev/null || { echo "needs g++-mips-linux-gnu" >&2; exit 1; }
	echo "building (logs in $out) ..."
	bash "$top/tests/cross/mips_stage.sh" "$out/mips-stage" "$top/cmake/toolchain-mips-linux-gnu.cmake" ||
		{ echo "MIPS json-c not staged: see $out/mips-stage/stage.log" >&2; exit 1; }
	build "$out/x86_64-pie" host OFF OFF veloxd ubusd ubus_cli uci_cli switchsim vx_trafgen vx_fastclock
	build "$out/x86_64-nopie" host ON OFF veloxd
	build "$out/mips-nopie" mips ON OFF veloxd
	build "$out/mips-pie" mips OFF OFF veloxd
	build "$out/mips16-nopie" mips ON ON veloxd

	echo
	echo "veloxd, -Os. stripped: strip --strip-all, bytes (the target counts this); -R: also without"
	echo ".pdr .comment .gnu.attributes. text/data/bss: the daemon's own objects as size(1) counts"
	echo "them (text includes read-only data)."
	printf '%-28s %9s %9s %7s %6s %6s  %s\n' build stripped -R text data bss "needs (readelf -d)"
	report "x86-64 PIE" "$out/x86_64-pie" ""
	report "x86-64 non-PIE" "$out/x86_64-nopie" ""
	report "MIPS32r2 non-PIE" "$out/mips-nopie" mips-linux-gnu-
	report "MIPS32r2 PIE" "$out/mips-pie" mips-linux-gnu-
	report "MIPS32r2 MIPS16e non-PIE" "$out/mips16-nopie" mips-linux-gnu-
	[ -z "${runtime_needed:-}" ] && echo "no build needs libstdc++ or libatomic"
	echo
	limit=$((KIB_TARGET_STRIPPED * 1024))
	for v in MIPS32r2_non_PIE MIPS32r2_PIE MIPS32r2_MIPS16e_non_PIE; do
		s=$(eval echo "\$STRIPPED_$v")
		if [ "$s" -le "$limit" ]; then
			echo "target stripped <= $KIB_TARGET_STRIPPED KiB ($limit B), $v: met ($((limit - s)) B to spare)"
		else
			echo "target stripped <= $KIB_TARGET_STRIPPED KiB ($limit B), $v: MISSED by $((s - limit)) B"
		fi
	done
	echo
	echo "--- where the bytes of MIPS32r2 non-PIE go"
	contributors "$out/mips-nopie" mips-linux-gnu-

	b=$out/x86_64-pie
	VX_BIN_UBUSD=$b/host/ubus/ubusd
	VX_BIN_UBUS=$b/host/ubus/ubus
	VX_BIN_UCI=$b/host/uci/uci
	VX_BIN_VELOXD=$(program "$b")
	VX_BIN_TRAFGEN=$b/tests/e2e/vx_trafgen
	VX_LIB_SWITCHSIM=$b/host/switch/libswitchsim.so
	VX_LIB_FASTCLOCK=$b/bench/footprint/libvx_fastclock.so
	VX_CONFIG_DIR=$top/packaging/veloxd/files/etc/config
	for v in VX_BIN_UBUSD VX_BIN_UBUS VX_BIN_UCI VX_BIN_VELOXD VX_BIN_TRAFGEN VX_LIB_SWITCHSIM VX_LIB_FASTCLOCK; do
		[ -f "${!v}" ] || { echo "build did not produce ${!v}" >&2; exit 1; }
		export "${v?}"
	done
	export VX_CONFIG_DIR
	LD_LIBRARY_PATH=$(find "$b" -name '*.so' -printf '%h\n' | sort -u | tr '\n' :)
	export LD_LIBRARY_PATH
	echo
	echo "--- x86-64 PIE veloxd, its history filled, then $seconds s: sampler, a client polling all six"
	echo "    methods and the history of every slot"
	vx_reexec_in_ns "$0" "$seconds"
fi

# --- the run, inside the sandbox ------------------------------------------

vx_sandbox_up
# Freshly linked libraries would count as private dirty pages of veloxd's
# mappings until the page cache writes them back.
sync
vx_start_ubusd
# Per pass and port: what a gigabit link moves in five minutes, each way.
for port in 1 2; do
	awk 'BEGIN { for (i = 0; i < 900; i++) print "rx_bytes=37500000000 tx_bytes=37500000000 rx_packets=25000000 tx_packets=25000000" }' >/tmp/port$port
done
vx_start_veloxd /tmp/veloxd.log "LD_PRELOAD=$VX_LIB_SWITCHSIM:$VX_LIB_FASTCLOCK" \
	SWITCHSIM_PORT1=script:/tmp/port1 SWITCHSIM_PORT2=script:/tmp/port2 FASTCLOCK_STEP_S=300 FASTCLOCK_SLEEP_US=20000
pid=$VX_VELOXD_PID
vx_traffic host1 br-lan 256000 >/dev/null
vx_traffic br-lan host2 640000 >/dev/null

poll() {
	local n=0 m s
	while :; do
		for m in test get_interface_list get_display_interface get_throughput; do
			vx_ubus call veloxd $m >/dev/null
		done
		vx_ubus call veloxd get_lan_port_info '{"interface1": 0}' >/dev/null
		vx_ubus call veloxd set_display_interface '{"interface1": 0}' >/dev/null
		for s in 0 1 2 3 9; do
			vx_ubus call veloxd.history get_history "{\"interface1\": $s}" >/dev/null
			vx_ubus call veloxd.history get_history "{\"interface1\": $s, \"range\": \"day\"}" >/dev/null
		done
		n=$((n + 16))
		echo $n >/tmp/calls
		sleep 0.1
	done
}
poll &

# entries REPLY: the entries of the first array of a compact reply
entries() { sed -n 's/^[^[]*\[\([^]]*\)\].*/\1/p' <<<"$1" | tr ',' '\n' | grep -c .; }
full() {
	[ "$(entries "$(vx_ubus -S call veloxd.history get_history '{"interface1": 0, "range": "day"}')")" = 288 ] &&
		[ "$(entries "$(vx_ubus -S call veloxd.history get_history '{"interface1": 9}')")" = 180 ]
}
filled_from=$(date +%s%N)
vx_wait_for 120 full || vx_die "the history did not fill within 120 s: $(cat /tmp/veloxd.log)"
day=$(vx_ubus -S call veloxd.history get_history '{"interface1": 0, "range": "day"}')
echo "history full after $(( ($(date +%s%N) - filled_from) / 1000000 )) ms; the day of slot 0 is a" \
	"reply of ${#day} characters of JSON, its newest figures:" \
	"$(sed 's/.*"tx_speed":\[[^]]*,\("[^"]*"\)\].*"tx_bytes":\[[^]]*,\("[^"]*"\)\].*/\1 \2/' <<<"$day")"

kib() { awk -v k="$2" '$1 == k ":" { print $2 }' "$1"; }
# Private dirty memory of the mappings of the stand-ins, which the router has not.
standins() {
	awk '/^[0-9a-f]+-[0-9a-f]+ / { s = ($6 ~ /libswitchsim|libvx_fastclock/) }
		/^Private_Dirty:/ && s { d += $2 } END { print d + 0 }' /proc/$pid/smaps
}
sample() { # rss peak private_dirty without_standins threads fds
	local pd
	pd=$(kib /proc/$pid/smaps_rollup Private_Dirty)
	echo "$(kib /proc/$pid/smaps_rollup Rss) $(kib /proc/$pid/status VmHWM)" \
		"$pd $((pd - $(standins))) $(kib /proc/$pid/status Threads) $(find /proc/$pid/fd -mindepth 1 | wc -l)"
}

printf '%5s %9s %10s %17s %16s %8s %4s %6s\n' t rss_KiB peak_KiB private_dirty_KiB "without stand-ins" threads fds calls
start=$(date +%s%N)
t=0
while [ $t -lt "$seconds" ]; do
	t=$((t + 1))
	# Wake on the second of the run, whatever the sampling took.
	sleep "$(awk -v s="$start" -v t=$t -v now="$(date +%s%N)" 'BEGIN { d = (s + t * 1e9 - now) / 1e9; print (d > 0 ? d : 0) }')"
	kill -0 "$pid" 2>/dev/null || vx_die "veloxd ended: $(cat /tmp/veloxd.log)"
	s=$(sample)
	[ $t = 10 ] && at10=$s
	if [ $((t % 10)) = 0 ] || [ $t = "$seconds" ]; then
		# shellcheck disable=SC2086
		printf '%5s %9s %10s %17s %16s %8s %4s %6s\n' $t $s "$(cat /tmp/calls 2>/dev/null)"
	fi
done
last=$s

# shellcheck disable=SC2086
set -- $at10 $last
echo
echo "growth from 10 s to $seconds s: rss $(($7 - $1)) KiB, private dirty $(($9 - $3)) KiB, threads $((${11} - $5)), fds $((${12} - $6))"
if [ "${10}" -le "$KIB_TARGET_DIRTY" ]; then
	echo "target private dirty <= $KIB_TARGET_DIRTY KiB with the history full, without the stand-ins: met (${10} KiB; $9 KiB with them)"
else
	echo "target private dirty <= $KIB_TARGET_DIRTY KiB with the history full, without the stand-ins: MISSED (${10} KiB; $9 KiB with them)"
fi
if [ "$7" -le "$1" ] && [ "$9" -le "$3" ] && [ "${11}" -le "$5" ] && [ "${12}" -le "$6" ]; then
	echo "target no growth from 10 s on: met"
else
	echo "target no growth from 10 s on: MISSED"
fi
echo "open descriptors at the end (those not veloxd's own come from the shell that started the run):"
find /proc/$pid/fd -mindepth 1 -printf '  %f -> %l\n' | sort -n -k1
echo "private dirty memory by mapping at the end (KiB; the stand-ins are not on the router):"
awk '/^[0-9a-f]+-[0-9a-f]+ / { name = ($6 == "" ? "[anon]" : $6) } /^Private_Dirty:/ && $2 > 0 { d[name] += $2 }
	END { for (n in d) printf "  %-50s %5d\n", n, d[n] }' /proc/$pid/smaps | sort -k2 -n -r
