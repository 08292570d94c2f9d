# shellcheck shell=bash
# Examples of the docs pages, run in the sandbox. An example is a "$ "
# line in a ```sh block and the lines after it up to the next "$ " line or
# the end of the block: what the command prints. Sourced by the page tests.
#
# Each command runs as written in the shell that "tools/run-demo.sh --shell"
# opens (vx_shell, the sandbox's ubus, uci, veloxd and /etc/init.d/veloxd),
# its standard error not a terminal; the kinds of command allowed:
#   $ ubus ... / $ uci ...   (also joined by "&& ubus", "&& uci") the output
#                            must equal the page's once both are put in shape
#                            (doc_shape), within 30 s
#   $ veloxd                 veloxd in the foreground: each line shown must
#                            appear in its output within 30 s; then it is
#                            ended, as by Ctrl-C
#   $ /etc/init.d/veloxd start|stop|restart
#   $ rm /etc/config/NAME, $ cat /etc/config/NAME,
#   $ cp /rom/etc/config/NAME /etc/config/,
#   $ echo|printf TEXT > /etc/config/NAME
#                            the output must equal the page's exactly
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

# doc_stop_veloxd: end the veloxd of the last "$ veloxd" example
doc_stop_veloxd() {
	[ -n "${DOC_VELOXD_PID:-}" ] || return 0
	kill "$DOC_VELOXD_PID" 2>/dev/null
	wait "$DOC_VELOXD_PID" 2>/dev/null
	DOC_VELOXD_PID=
}

# doc_config_name N NAME: NAME must be a bare configuration file name
doc_config_name() {
	case "$2" in
	*[!a-z_]* | '') vx_die "example $1: not a configuration file: $2" ;;
	esac
}

# doc_kind N CMD: CMD must be one of the kinds above, one command (or a
# chain of ubus and uci commands)
doc_kind() {
	local name
	case "$2" in
	*[\;\|\`\<]* | *'$('* | *" > "*" > "*) vx_die "example $1: more than one command: $2" ;;
	"ubus "* | "uci "*)
		case "$2" in
		*">"*) vx_die "example $1: a redirection: $2" ;;
		esac
		;;
	veloxd | "/etc/init.d/veloxd start" | "/etc/init.d/veloxd stop" | "/etc/init.d/veloxd restart") ;;
	"rm /etc/config/"* | "cat /etc/config/"*) doc_config_name "$1" "${2#* /etc/config/}" ;;
	"cp /rom/etc/config/"*" /etc/config/")
		name=${2#cp /rom/etc/config/}
		doc_config_name "$1" "${name% /etc/config/}"
		;;
	"echo "*" > /etc/config/"* | "printf "*" > /etc/config/"*) doc_config_name "$1" "${2##* > /etc/config/}" ;;
	*) vx_die "example $1: no such kind of example: $2" ;;
	esac
}

# doc_run N DIR LOG: run example N; its output to DIR/N.got, or to LOG for
# veloxd in the foreground
doc_run() {
	local cmd
	cmd=$(cat "$2/$1.cmd")
	doc_kind "$1" "$cmd"
	if [ "$cmd" = veloxd ]; then
		doc_stop_veloxd
		"$VX_SHELL_DIR/shell" -c veloxd >"$3" 2>&1 &
		DOC_VELOXD_PID=$!
		return 0
	fi
	vx_shell -c "$cmd" >"$2/$1.got" 2>&1
}

# doc_matches N DIR LOG: whether example N's output agrees with the page
doc_matches() {
	local want got line
	want=$(doc_shape <"$2/$1.want")
	case "$(cat "$2/$1.cmd")" in
	veloxd)
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
		# What a sampling pass changes shows within about a second; given
		# up after ten times that and more.
		deadline=$((SECONDS + 30))
		until doc_matches "$i" "$dir" "$log" || [ "$SECONDS" -ge "$deadline" ]; do
			sleep 0.2
			case "$(cat "$dir/$i.cmd")" in
			"ubus call "* | "ubus -S call "*) doc_run "$i" "$dir" "$log" ;;
			esac
		done
		[ "$(cat "$dir/$i.cmd")" = veloxd ] && doc_stop_veloxd
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
