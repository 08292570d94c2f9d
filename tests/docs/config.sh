#!/usr/bin/env bash
# Every example of docs/config.md in the sandbox: the shipped files as the
# page shows them, and each broken configuration with the lines the real
# veloxd prints for it. "config.sh --print" prints the page with this run's
# output, to refresh it after a change.
here=$(cd "$(dirname "$0")" && pwd)
. "$here/doclib.sh"
vx_reexec_in_ns "$here/config.sh" "$@"
vx_sandbox_up
vx_start_ubusd
# The shell of "tools/run-demo.sh --shell", with veloxd started as there.
vx_shell_up
vx_shell -c '/etc/init.d/veloxd start'
vx_wait_for 10 vx_object_listed || vx_die "veloxd did not publish its object: $(cat /tmp/messages)"

doc_check_page "$here/../../docs/config.md" "$@"
[ "${1:-}" = --print ] && exit 0
vx_done
