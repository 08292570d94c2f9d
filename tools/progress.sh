# shellcheck shell=bash
# vx_progress LOG LABEL COMMAND...: runs COMMAND (a build) with all of its
# output in LOG and shows how far it got, from CMake's Makefile lines
# ("[ 45%] ...") or Ninja's ("[12/340] ..."): on a terminal one line
# updated in place, otherwise a line at every tenth. Returns COMMAND's
# status; the caller shows the log's tail when it failed.
vx_progress() {
	local log=$1 label=$2 tty=0 status
	shift 2
	[ -t 1 ] && tty=1
	"$@" 2>&1 | awk -v out="$log" -v label="$label" -v tty="$tty" '
		BEGIN { shown = -1; due = 0; printf "" > out }
		{ print > out; fflush(out) }
		/^\[ *[0-9]+%\]/ { p = substr($0, 2, index($0, "%") - 2) + 0 }
		/^\[[0-9]+\/[0-9]+\]/ {
			split(substr($0, 2, index($0, "]") - 2), n, "/")
			if (n[2] > 0) p = int(n[1] * 100 / n[2])
		}
		p > shown {
			shown = p
			if (tty) {
				printf "\r%s: %3d%%", label, p
				fflush()
			} else if (p >= due) {
				printf "%s: %d%%\n", label, p
				fflush()
				due = (int(p / 10) + 1) * 10
			}
		}
		END { if (tty && shown >= 0) printf "\n" }'
	status=${PIPESTATUS[0]}
	return "$status"
}
