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
vx_start_veloxd /tmp/doc-veloxd.log

doc_check_page "$here/../../docs/config.md" "$@"
[ "${1:-}" = --print ] && exit 0
vx_done
