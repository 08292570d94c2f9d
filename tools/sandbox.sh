# Sandbox for running veloxd as on the router, used by tools/run-demo.sh, the
# end-to-end and fault tests and the benchmarks. Source it, then call
# vx_reexec_in_ns early: the calling script is run again inside private user
# (when not root), mount, network and PID namespaces. Everything started in
# there dies with the script, since the script is the namespace's PID 1.
#
# Inside, vx_sandbox_up lays out a root of its own: the host's top-level
# directories bound in place, except
#   /run (and so /var/run)  private tmpfs; ubusd listens on /var/run/ubus.sock
#   /tmp                    private tmpfs (uci keeps its pending changes here)
#   /etc                    overlay over the host's /etc (kept private), with
#                           the shipped default configuration bound on
#                           /etc/config
#   /rom/etc/config         the shipped default configuration, read-only, as
#                           in the router's read-only root
#   network                 bridge br-lan with ports swp1, swp2 (the switch
#                           ports, peers host1, host2), wlan0 and wlan7
#                           (peers sta0, sta7), and eth1, the switch's CPU port
# Whatever the programs need that lies under /tmp or /run (a checkout or a
# build there, their libraries) is bound back at its own path. vx_shell_up
# adds the router's commands for a shell in there (vx_shell).
#
# Programs are taken from the environment: VX_BIN_UBUSD, VX_BIN_UBUS,
# VX_BIN_UCI, VX_BIN_VELOXD, VX_BIN_VELOXTOP, VX_BIN_TRAFGEN, VX_LIB_SWITCHSIM,
# VX_CONFIG_DIR. VX_PRELOAD_VAR names the variable that preloads the switch
# stand-in into veloxd (LD_PRELOAD; an emulated veloxd takes it through its
# emulator, e.g. QEMU_SET_ENV=LD_PRELOAD).

VX_SOCK=/var/run/ubus.sock
VX_SKIP=77
# Where the commands for a shell in the sandbox go (vx_shell_up).
VX_SHELL_DIR=/run/vx

# ip, bridge, pivot_root live in /sbin or /usr/sbin, which a normal user's
# PATH lacks.
for _d in /usr/sbin /sbin; do
	case ":$PATH:" in
	*":$_d:"*) ;;
	*) PATH=$PATH:$_d ;;
	esac
done
unset _d

vx_die() {
	echo "$*" >&2
	exit 1
}

vx_skip() {
	echo "SKIP: $*"
	exit "$VX_SKIP"
}

# The programs the sandbox needs that are not installed, as "NAME (PACKAGE)".
vx_missing_tools() {
	local t missing=()
	for t in unshare:util-linux pivot_root:util-linux mount:mount umount:mount ip:iproute2 bridge:iproute2; do
		command -v "${t%%:*}" >/dev/null || missing+=("${t%%:*} (${t#*:})")
	done
	echo "${missing[*]}"
}

# vx_reexec_in_ns SCRIPT ARGS...: returns only when already inside.
vx_reexec_in_ns() {
	local script=$1
	shift
	[ -n "${VX_IN_NS:-}" ] && return 0
	# --kill-child: whoever ends us (a test timeout) ends the sandbox too.
	local flags="--mount --net --pid --fork --kill-child --mount-proc"
	[ "$(id -u)" = 0 ] || flags="--map-root-user $flags"
	local missing
	missing=$(vx_missing_tools)
	[ -z "$missing" ] || vx_skip "not installed: $missing"
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

# vx_build_programs BUILD: VX_BIN_*, VX_LIB_SWITCHSIM and VX_CONFIG_DIR for
# the programs of a host build tree, exported. Where the targets land: the
# tests also build other copies (for MIPS, for an SDK layout) that must not
# be picked up.
vx_build_programs() {
	export VX_BIN_UBUSD=$1/host/ubus/ubusd VX_BIN_UBUS=$1/host/ubus/ubus VX_BIN_UCI=$1/host/uci/uci \
		VX_BIN_VELOXD=$1/daemon/veloxd VX_BIN_VELOXTOP=$1/veloxtop/veloxtop \
		VX_BIN_TRAFGEN=$1/tests/e2e/vx_trafgen VX_LIB_SWITCHSIM=$1/host/switch/libswitchsim.so \
		VX_BIN_UBUS_HTTPD=$1/host/ubus-http/ubus-httpd VX_BIN_COLLECTD_SOURCE=$1/collectd/veloxd-collectd \
		VX_CONFIG_DIR=$VX_CHECKOUT/packaging/veloxd/files/etc/config
}

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

# The entries vx_keep_list names, opened before anything covers them:
# VX_KEEP holds the paths, VX_KEEP_FD their descriptors.
vx_open_kept() {
	local p fd
	mapfile -t VX_KEEP < <(vx_keep_list)
	VX_KEEP_FD=()
	for p in "${VX_KEEP[@]}"; do
		exec {fd}<"$p" || vx_die "cannot open $p"
		VX_KEEP_FD+=("$fd")
	done
}

# vx_host_dirs ROOT: the host's top-level directories bound under ROOT, its
# top-level links copied; what the sandbox makes its own is left out.
vx_host_dirs() {
	local e n
	for e in /*; do
		n=${e#/}
		case "$n" in
		tmp | run | proc | sys | etc | rom) continue ;;
		esac
		if [ -L "$e" ]; then
			ln -s "$(readlink "$e")" "$1/$n"
		elif [ -d "$e" ]; then
			mkdir "$1/$n"
			mount --rbind "$e" "$1/$n" 2>/dev/null || echo "sandbox: $e is left empty inside" >&2
		fi
	done
	mkdir "$1/proc" "$1/sys"
	mount --rbind /proc "$1/proc" || vx_die "cannot bind /proc in the sandbox"
	mount -t sysfs vx-sys "$1/sys" || vx_die "cannot mount /sys in the sandbox"
}

# vx_private_dirs ROOT: fresh /run, /var/run and /tmp under ROOT, with the
# kept entries bound back from their descriptors.
vx_private_dirs() {
	local i p fd
	mkdir -p "$1/run" "$1/tmp"
	mount -t tmpfs -o mode=0755 vx-run "$1/run"
	[ -L /var/run ] || mount -t tmpfs -o mode=0755 vx-run "$1/var/run"
	mount -t tmpfs -o mode=1777 vx-tmp "$1/tmp"
	# Scratch files of what runs in here go to this /tmp, not to a TMPDIR
	# outside that it may not see.
	export TMPDIR=/tmp
	for i in "${!VX_KEEP[@]}"; do
		p=$1${VX_KEEP[$i]} fd=${VX_KEEP_FD[$i]}
		if [ -d "/proc/self/fd/$fd" ]; then
			mkdir -p "$p"
		else
			mkdir -p "${p%/*}" && : >"$p"
		fi
		mount --no-canonicalize --bind "/proc/self/fd/$fd" "$p" || vx_die "cannot keep ${VX_KEEP[$i]} in the sandbox"
		exec {fd}<&-
	done
}

# vx_etc_config ROOT: the configuration on /etc/config, whether or not the
# host has that directory, and the host's /etc left as it is. In an overlay
# mounted without privileges a directory of the lower layer can't be
# removed, so the configuration is bound on top of it instead of replacing it.
vx_etc_config() {
	local stage=$1/tmp/.vx-etc
	# Read under ROOT: the host's /tmp is covered by then.
	[ -n "${VX_CONFIG_DIR:-}" ] && [ -d "$1$VX_CONFIG_DIR" ] || vx_die "VX_CONFIG_DIR=${VX_CONFIG_DIR:-} is not a directory"
	# init.d in the upper layer already, so that it takes files from a
	# sandbox without privileges too (vx_shell_up)
	mkdir -p "$stage/config" "$stage/upper/init.d" "$stage/work" "$1/etc"
	cp "$1$VX_CONFIG_DIR"/* "$stage/config/" || vx_die "cannot copy the configuration from $VX_CONFIG_DIR"
	VX_ETC_PRIVATE=1
	if ! mount -t overlay vx-etc -o "lowerdir=/etc,upperdir=$stage/upper,workdir=$stage/work" "$1/etc" 2>/dev/null; then
		# Without a private /etc an existing /etc/config still takes a bind.
		VX_ETC_PRIVATE=
		mount --rbind /etc "$1/etc" || vx_die "cannot bind /etc in the sandbox"
		[ -d /etc/config ] ||
			vx_die "cannot lay an overlay over /etc to create /etc/config (kernel without overlayfs in user namespaces?)"
	fi
	[ -d "$1/etc/config" ] || mkdir "$1/etc/config" || vx_die "cannot create /etc/config"
	mount --bind "$stage/config" "$1/etc/config" || vx_die "cannot bind the configuration on /etc/config"
}

# vx_rom ROOT: the shipped configuration once more, read-only, where the
# router keeps the files of its firmware image.
vx_rom() {
	mkdir -p "$1/rom/etc/config"
	cp "$1$VX_CONFIG_DIR"/* "$1/rom/etc/config/" || vx_die "cannot copy the configuration to /rom"
	mount --bind "$1/rom" "$1/rom" && mount -o remount,bind,ro "$1/rom" || vx_die "cannot make /rom read-only"
}

# The new root is laid over /tmp, which the sandbox replaces anyway;
# pivot_root then makes it / for every process of the sandbox.
vx_mounts() {
	local root=/tmp here=$PWD
	mount --make-rprivate /
	vx_open_kept
	mount -t tmpfs -o mode=0755 vx-root "$root"
	vx_host_dirs "$root"
	vx_private_dirs "$root"
	vx_etc_config "$root"
	vx_rom "$root"
	mkdir "$root/.vx-old"
	cd "$root" && pivot_root . .vx-old || vx_die "cannot change to the sandbox's root (pivot_root)"
	cd /
	umount -l /.vx-old && rmdir /.vx-old
	cd "$here" 2>/dev/null || true
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

# vx_shell_up: the router's commands for a shell in the sandbox (vx_shell):
# ubus, uci, veloxtop and veloxd, the last with the switch stand-in whoever
# starts it; /etc/init.d/veloxd, the init script of firmware without procd
# with a stand-in of /etc/rc.common; and as the system log, logger and
# logread on /tmp/messages.
vx_shell_up() {
	local bin=$VX_SHELL_DIR/bin top=$VX_CHECKOUT
	mkdir -p "$bin"
	ln -s "$VX_BIN_UBUS" "$bin/ubus"
	ln -s "$VX_BIN_UCI" "$bin/uci"
	[ -z "${VX_BIN_VELOXTOP:-}" ] || ln -s "$VX_BIN_VELOXTOP" "$bin/veloxtop"
	printf '#!/bin/sh\n# veloxd with the switch stand-in (tools/sandbox.sh)\nexec env %s %q "$@"\n' \
		"$(vx_switch_env)" "$VX_BIN_VELOXD" >"$bin/veloxd"
	cat >"$bin/logger" <<'EOT'
#!/bin/sh
# logger -t TAG [MESSAGE]: the message, or each line of the input, to the sandbox's system log
tag=logger
while getopts t:p:s opt; do
	[ "$opt" = t ] && tag=$OPTARG
done
shift $((OPTIND - 1))
if [ $# -gt 0 ]; then
	echo "$tag: $*"
else
	while IFS= read -r line; do echo "$tag: $line"; done
fi >>/tmp/messages
EOT
	cat >"$bin/logread" <<'EOT'
#!/bin/sh
# logread [-e PATTERN] [-f]: the sandbox's system log, the lines matching PATTERN; -f follows it
pattern= follow=
while getopts e:f opt; do
	case $opt in e) pattern=$OPTARG ;; f) follow=1 ;; esac
done
touch /tmp/messages
if [ -n "$follow" ]; then tail -n +1 -f /tmp/messages; else cat /tmp/messages; fi | grep -e "$pattern" || :
EOT
	cat >"$VX_SHELL_DIR/shell" <<EOT
#!/bin/sh
# A shell in the veloxd sandbox, the router's commands first on PATH.
PATH=$bin:\$PATH:/usr/sbin:/sbin
PS1='[veloxd sandbox] \\w# '
export PATH PS1
[ \$# -gt 0 ] || exec bash --norc -i
exec bash --norc "\$@"
EOT
	chmod 755 "$bin/veloxd" "$bin/logger" "$bin/logread" "$VX_SHELL_DIR/shell"
	# Only into a private /etc: a bound one is the host's.
	[ -n "${VX_ETC_PRIVATE:-}" ] || return 0
	cp "$top/host/base-files/rc.common" /etc/rc.common
	sed "s|^PROG=.*|PROG=$bin/veloxd|" "$top/packaging/veloxd/files/veloxd.rc.init" >/etc/init.d/veloxd
	chmod 755 /etc/rc.common /etc/init.d/veloxd
}

# vx_shell [ARGS...]: bash in the sandbox with the commands of vx_shell_up
# (interactive without arguments).
vx_shell() {
	"$VX_SHELL_DIR/shell" "$@"
}

vx_object_listed() {
	[ "$(vx_ubus list veloxd 2>/dev/null)" = veloxd ]
}

# vx_traffic IFACE DSTIFACE BYTES_PER_SECOND: start the frame generator; echo its pid.
vx_traffic() {
	"$VX_BIN_TRAFGEN" -i "$1" -d "$(vx_mac "$2")" -r "$3" -l 1000 >/dev/null &
	echo $!
}
