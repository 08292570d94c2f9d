# Sandbox for running veloxd as on the router, used by tools/run-demo.sh, the
# end-to-end and fault tests and the benchmarks. Source it, then call
# vx_reexec_in_ns early: the calling script is run again inside private user
# (when not root), mount, network and PID namespaces. Everything started in
# there dies with the script, since the script is the namespace's PID 1.
#
# Inside, vx_sandbox_up lays out:
#   /run (and so /var/run)  private tmpfs; ubusd listens on /var/run/ubus.sock
#   /tmp                    private tmpfs (uci keeps its pending changes here)
#   /etc                    overlay over the host's /etc (kept private), with
#                           the shipped default configuration bound on
#                           /etc/config
#   network                 bridge br-lan with ports swp1, swp2 (the switch
#                           ports, peers host1, host2), wlan0 and wlan7
#                           (peers sta0, sta7), and eth1, the switch's CPU port
# Whatever the programs need that lies under /tmp or /run (a checkout or a
# build there, their libraries) is bound back at its own path.
#
# Programs are taken from the environment: VX_BIN_UBUSD, VX_BIN_UBUS,
# VX_BIN_UCI, VX_BIN_VELOXD, VX_BIN_VELOXTOP, VX_BIN_TRAFGEN, VX_LIB_SWITCHSIM,
# VX_CONFIG_DIR. VX_PRELOAD_VAR names the variable that preloads the switch
# stand-in into veloxd (LD_PRELOAD; an emulated veloxd takes it through its
# emulator, e.g. QEMU_SET_ENV=LD_PRELOAD).

VX_SOCK=/var/run/ubus.sock
VX_SKIP=77

vx_die() {
	echo "$*" >&2
	exit 1
}

vx_skip() {
	echo "SKIP: $*"
	exit "$VX_SKIP"
}

# vx_reexec_in_ns SCRIPT ARGS...: returns only when already inside.
vx_reexec_in_ns() {
	local script=$1
	shift
	[ -n "${VX_IN_NS:-}" ] && return 0
	# --kill-child: whoever ends us (a test timeout) ends the sandbox too.
	local flags="--mount --net --pid --fork --kill-child --mount-proc"
	[ "$(id -u)" = 0 ] || flags="--map-root-user $flags"
	command -v unshare >/dev/null || vx_skip "unshare (util-linux) not installed"
	command -v ip >/dev/null || vx_skip "ip (iproute2) not installed"
	# shellcheck disable=SC2086
	if ! unshare $flags true 2>/dev/null; then
		vx_skip "cannot create namespaces here (needs root, or unprivileged user namespaces)"
	fi
	VX_OUTER_NETNS=$(readlink /proc/self/ns/net)
	export VX_OUTER_NETNS
	# shellcheck disable=SC2086
	VX_IN_NS=1 exec unshare $flags bash "$script" "$@"
}

VX_CHECKOUT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)

# Run paths of a program or library, one a line.
vx_runpath() {
	command -v readelf >/dev/null || return 0
	readelf -d "$1" 2>/dev/null |
		sed -n 's/.*(R[UN]*PATH).*\[\(.*\)\]$/\1/p' | tr ':' '\n' |
		sed "s|\$ORIGIN|$(dirname "$1")|; s|\${ORIGIN}|$(dirname "$1")|"
}

# The entries directly under /tmp and /run (or /var/run) that hold what runs
# in the sandbox: programs, their libraries, the configuration, this checkout.
vx_keep_list() {
	local v p r d
	{
		for v in "${!VX_BIN_@}" "${!VX_LIB_@}"; do
			echo "${!v}"
			vx_runpath "${!v}"
		done
		echo "${VX_CONFIG_DIR:-}"
		echo "$VX_CHECKOUT"
		tr ':' '\n' <<<"${LD_LIBRARY_PATH:-}"
	} | while read -r p; do
		[ -n "$p" ] && [ -e "$p" ] || continue
		r=$(readlink -f "$p")
		for d in /tmp /run /var/run; do
			case "$r" in
			"$d"/*) r=${r#"$d"/}; echo "$d/${r%%/*}";;
			esac
		done
	done | sort -u
}

# Fresh /run, /var/run and /tmp, with the kept entries bound back: each is
# opened before it is covered and bound from its descriptor afterwards.
vx_private_dirs() {
	local keep=() fds=() p fd i
	mapfile -t keep < <(vx_keep_list)
	for p in "${keep[@]}"; do
		exec {fd}<"$p" || vx_die "cannot open $p"
		fds+=("$fd")
	done
	mount -t tmpfs -o mode=0755 vx-run /run
	[ -L /var/run ] || mount -t tmpfs -o mode=0755 vx-run /var/run
	mount -t tmpfs -o mode=1777 vx-tmp /tmp
	# Scratch files of what runs in here go to this /tmp, not to a TMPDIR
	# outside that it may not see.
	export TMPDIR=/tmp
	for i in "${!keep[@]}"; do
		p=${keep[$i]} fd=${fds[$i]}
		if [ -d "/proc/self/fd/$fd" ]; then
			mkdir -p "$p"
		else
			mkdir -p "${p%/*}" && : >"$p"
		fi
		mount --no-canonicalize --bind "/proc/self/fd/$fd" "$p" || vx_die "cannot keep $p in the sandbox"
		exec {fd}<&-
	done
}

# The configuration on /etc/config, whether or not the host has that
# directory, and the host's /etc left as it is. In an overlay mounted without
# privileges a directory of the lower layer can't be removed, so the
# configuration is bound on top of it instead of replacing it.
vx_etc_config() {
	local stage=/tmp/.vx-etc
	[ -d "${VX_CONFIG_DIR:-}" ] || vx_die "VX_CONFIG_DIR=${VX_CONFIG_DIR:-} is not a directory"
	mkdir -p "$stage/config" "$stage/upper" "$stage/work"
	cp "$VX_CONFIG_DIR"/* "$stage/config/" || vx_die "cannot copy the configuration from $VX_CONFIG_DIR"
	if ! mount -t overlay vx-etc -o "lowerdir=/etc,upperdir=$stage/upper,workdir=$stage/work" /etc 2>/dev/null; then
		# Without a private /etc an existing /etc/config still takes a bind.
		[ -d /etc/config ] ||
			vx_die "cannot lay an overlay over /etc to create /etc/config (kernel without overlayfs in user namespaces?)"
	fi
	[ -d /etc/config ] || mkdir /etc/config || vx_die "cannot create /etc/config"
	mount --bind "$stage/config" /etc/config || vx_die "cannot bind the configuration on /etc/config"
}

vx_mounts() {
	mount --make-rprivate /
	vx_private_dirs
	mount -t sysfs vx-sys /sys
	vx_etc_config
}

vx_mac() {
	cat "/sys/class/net/$1/address"
}

vx_network() {
	local p
	# No IPv6 chatter: only the frames we send are counted.
	echo 1 >/proc/sys/net/ipv6/conf/default/disable_ipv6 2>/dev/null || true
	echo 1 >/proc/sys/net/ipv6/conf/all/disable_ipv6 2>/dev/null || true
	ip link set lo up
	ip link add br-lan type bridge
	# The switch's CPU port; a veth since not every kernel has dummy links.
	ip link add eth1 type veth peer name cpu0
	for p in swp1:host1 swp2:host2 wlan0:sta0 wlan7:sta7; do
		ip link add "${p%%:*}" type veth peer name "${p##*:}"
		ip link set "${p%%:*}" master br-lan
		ip link set "${p%%:*}" up
		ip link set "${p##*:}" up
	done
	ip link set cpu0 up
	ip link set eth1 up
	ip link set br-lan up
	# Known stations: frames for them leave by their own port only.
	for p in swp1:host1 swp2:host2 wlan0:sta0 wlan7:sta7; do
		bridge fdb replace "$(vx_mac "${p##*:}")" dev "${p%%:*}" master static
	done
}

vx_sandbox_up() {
	vx_mounts
	vx_network
}

vx_wait_for() { # vx_wait_for SECONDS CMD...: poll CMD every 50 ms
	local n=$(($1 * 20))
	shift
	while ! "$@" 2>/dev/null; do
		n=$((n - 1))
		[ "$n" -gt 0 ] || return 1
		sleep 0.05
	done
}

vx_ubus() {
	"$VX_BIN_UBUS" -s "$VX_SOCK" "$@"
}

vx_uci() {
	"$VX_BIN_UCI" "$@"
}

vx_start_ubusd() {
	# A killed ubusd leaves its socket file behind: wait for the new one.
	rm -f "$VX_SOCK"
	"$VX_BIN_UBUSD" -s "$VX_SOCK" &
	VX_UBUSD_PID=$!
	vx_wait_for 20 test -S "$VX_SOCK" || vx_die "ubusd did not come up"
}

# Switch stand-in: ports 1 and 2 of the switch behind eth1 count what swp1 and
# swp2 carry, as the real switch ports would.
vx_switch_env() {
	echo "${VX_PRELOAD_VAR:-LD_PRELOAD}=$VX_LIB_SWITCHSIM SWITCHSIM_PORT1=iface:swp1 SWITCHSIM_PORT2=iface:swp2"
}

# vx_start_veloxd LOGFILE [VAR=VALUE...]: veloxd with the switch stand-in,
# its environment amended by the assignments; sets VX_VELOXD_PID.
vx_start_veloxd() {
	local log=$1
	shift
	# shellcheck disable=SC2046
	env $(vx_switch_env) "$@" "$VX_BIN_VELOXD" >"$log" 2>&1 &
	VX_VELOXD_PID=$!
	vx_wait_for 20 vx_object_listed || vx_die "veloxd did not publish its object: $(cat "$log")"
}

vx_object_listed() {
	[ "$(vx_ubus list veloxd 2>/dev/null)" = veloxd ]
}

# vx_traffic IFACE DSTIFACE BYTES_PER_SECOND: start the frame generator; echo its pid.
vx_traffic() {
	"$VX_BIN_TRAFGEN" -i "$1" -d "$(vx_mac "$2")" -r "$3" -l 1000 >/dev/null &
	echo $!
}
