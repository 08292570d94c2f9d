#!/usr/bin/env bash
# Every example of docs/api.md against the real veloxd, ubusd and ubus
# tool in the sandbox, with frames flowing through a LAN port, the bridge
# and the wireless interface. "api.sh --print" prints the page with this
# run's replies, to refresh it after a change.
here=$(cd "$(dirname "$0")" && pwd)
. "$here/doclib.sh"
vx_reexec_in_ns "$here/api.sh" "$@"
vx_sandbox_up
vx_start_ubusd
vx_start_veloxd /tmp/doc-veloxd.log

vx_traffic host1 br-lan 256000 >/dev/null
vx_traffic br-lan host2 640000 >/dev/null
vx_traffic sta0 br-lan 64000 >/dev/null
# Two passes, so that the speeds have been derived.
sleep 2.2

doc_check_page "$here/../../docs/api.md" "$@"
[ "${1:-}" = --print ] && exit 0
vx_done
