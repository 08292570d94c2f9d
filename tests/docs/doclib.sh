# shellcheck shell=bash
# Examples of the docs pages, run in the sandbox. An example is a "$ "
# line in a ```sh block and the lines after it up to the next "$ " line or
# the end of the block: what the command prints. Sourced by the page tests.
#
#   $ ubus ... / $ uci ...   run; the output must equal the page's once
#                            both are put in shape (doc_shape), within 3 s
#   $ veloxd                 (re)start veloxd; each line shown must appear
#                            in its output within 3 s
#   $ rm /etc/config/NAME    remove a configuration file
#   $ cp /rom/etc/config/NAME /etc/config/
#                            put the shipped default file back
#   $ cat /etc/config/NAME   the output must equal the page's exactly
#   $ echo|printf TEXT > /etc/config/NAME
#                            write a configuration file
#   $ /etc/init.d/veloxd start|restart
#                            the same as "$ veloxd"
#   $ /etc/init.d/veloxd stop
#
# The line numbers of log lines and the digits of counters and speeds differ
# from run to run; their form, the field names, their order, the JSON types
# and every other value must not.

doc_here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
# shellcheck source=../../tools/sandbox.sh
. "$doc_here/../../tools/sandbox.sh"
# shellcheck source=../e2e/check.sh
. "$doc_here/../e2e/check.sh"

# doc_extract PAGE DIR: DIR/N.cmd and DIR/N.want for example N = 1, 2, ...
doc_extract() {
	awk -v dir="$2" '
		/^```sh$/ { inblock = 1; next }
		/^```/ { inblock = 0; next }
		!inblock { next }
		/^\$ / { n++; printf "%s\n", substr($0, 3) > (dir "/" n ".cmd"); printf "" > (dir "/" n ".want"); next }
		n { print > (dir "/" n ".want") }
	' "$1"
}

# doc_shape: counters to N, speeds to N.NN, line numbers of log lines to (N);
# in an array of such figures (a history) a run of equal elements to one, so
# that its length, which grows while the daemon runs, does not count
doc_shape() {
	sed -E -e 's/"[0-9]+\.[0-9]{2}"/"N.NN"/g' -e 's/"[0-9]+"/"N"/g' \
		-e 's/^(\[[A-Z ]+\] [a-z_]+)\([0-9]+\)/\1(N)/' -e "s/^'(veloxd[.a-z]*)' @[0-9a-f]{8}\$/'\\1' @ID/" |
		awk '/^\t\t"N(\.NN)?",$/ && $0 == prev { next } { print; prev = $0 }'
}

# doc_render PAGE DIR: the page with each example's output replaced by DIR/N.got
doc_render() {
	awk -v dir="$2" '
		/^```sh$/ { inblock = 1; print; next }
		/^```/ { inblock = 0; skip = 0; print; next }
		inblock && /^\$ / {
			n++; print; skip = 1
			f = dir "/" n ".got"
			while ((getline line < f) > 0) print line
			close(f)
			next
		}
		inblock && skip { next }
		{ print }
	' "$1"
}

doc_ubus() { vx_ubus "$@"; }
doc_uci() { vx_uci "$@"; }

doc_stop_veloxd() {
	[ -n "${VX_VELOXD_PID:-}" ] || return 0
	kill "$VX_VELOXD_PID" 2>/dev/null
	wait "$VX_VELOXD_PID" 2>/dev/null
	VX_VELOXD_PID=
}

# doc_veloxd LOG: a fresh veloxd (the old one stopped) writing to LOG
doc_veloxd() {
	doc_stop_veloxd
	vx_start_veloxd "$1"
}

# doc_config_name N NAME: NAME must be a bare configuration file name
doc_config_name() {
	case "$2" in
	*[!a-z_]* | '') vx_die "example $1: not a configuration file: $2" ;;
	esac
}

# doc_run N DIR LOG: run example N; its output to DIR/N.got
doc_run() {
	local cmd
	cmd=$(cat "$2/$1.cmd")
	case "$cmd" in
	"ubus "* | "uci "*)
		# shellcheck disable=SC2001
		eval "$(echo "$cmd" | sed -e 's/^ubus /doc_ubus /' -e 's/^uci /doc_uci /' \
			-e 's/&& ubus /\&\& doc_ubus /g' -e 's/&& uci /\&\& doc_uci /g')" >"$2/$1.got" 2>&1
		;;
	veloxd | "/etc/init.d/veloxd start" | "/etc/init.d/veloxd restart")
		doc_veloxd "$3"
		awk '!seen[$0]++' "$3" >"$2/$1.got"
		;;
	"/etc/init.d/veloxd stop")
		doc_stop_veloxd
		: >"$2/$1.got"
		;;
	"rm /etc/config/"* | "cat /etc/config/"*)
		doc_config_name "$1" "${cmd#* /etc/config/}"
		${cmd%% *} "/etc/config/${cmd#* /etc/config/}" >"$2/$1.got" 2>&1
		;;
	"cp /rom/etc/config/"*" /etc/config/")
		cmd=${cmd#cp /rom/etc/config/}
		doc_config_name "$1" "${cmd% /etc/config/}"
		cp "$VX_CONFIG_DIR/${cmd% /etc/config/}" /etc/config/ >"$2/$1.got" 2>&1
		;;
	"echo "*" > /etc/config/"* | "printf "*" > /etc/config/"*)
		doc_config_name "$1" "${cmd##* > /etc/config/}"
		case "$cmd" in
		*[\;\|\&\`]* | *'$('* | *" > "*" > "*) vx_die "example $1: more than one command: $cmd" ;;
		esac
		eval "$cmd" >"$2/$1.got" 2>&1
		;;
	*) vx_die "example $1: no such kind of example: $cmd" ;;
	esac
}

# doc_matches N DIR LOG: whether example N's output agrees with the page
doc_matches() {
	local want got line
	want=$(doc_shape <"$2/$1.want")
	case "$(cat "$2/$1.cmd")" in
	veloxd | "/etc/init.d/veloxd start" | "/etc/init.d/veloxd restart")
		awk '!seen[$0]++' "$3" >"$2/$1.got"
		got=$(doc_shape <"$2/$1.got")
		while IFS= read -r line; do
			[ -z "$line" ] && continue
			printf '%s\n' "$got" | grep -qxF -- "$line" || return 1
		done <<<"$want"
		;;
	*)
		got=$(doc_shape <"$2/$1.got")
		[ "$want" = "$got" ]
		;;
	esac
}

# doc_check_page PAGE [--print]: run every example of PAGE in order; print
# the page with the outputs of this run instead with --print
doc_check_page() {
	local page=$1 dir n i deadline log=/tmp/doc-veloxd.log
	dir=$(mktemp -d)
	doc_extract "$page" "$dir"
	n=$(find "$dir" -name '*.cmd' | wc -l)
	[ "$n" -gt 0 ] || vx_die "no examples in $page"
	for ((i = 1; i <= n; i++)); do
		doc_run "$i" "$dir" "$log"
		# What a sampling pass changes shows within about a second.
		deadline=$((SECONDS + 3))
		until doc_matches "$i" "$dir" "$log" || [ "$SECONDS" -ge "$deadline" ]; do
			sleep 0.2
			case "$(cat "$dir/$i.cmd")" in
			"ubus call "* | "ubus -S call "*) doc_run "$i" "$dir" "$log" ;;
			esac
		done
		[ "${2:-}" = --print ] && continue
		if doc_matches "$i" "$dir" "$log"; then
			vx_ok "$(basename "$page") example $i: $(cat "$dir/$i.cmd")"
		else
			vx_not_ok "$(basename "$page") example $i: $(cat "$dir/$i.cmd")" \
				"page:" "$(cat "$dir/$i.want")" "this run:" "$(cat "$dir/$i.got")"
		fi
	done
	[ "${2:-}" = --print ] && doc_render "$page" "$dir"
	rm -rf "$dir"
}
