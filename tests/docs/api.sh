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
# The shell of "tools/run-demo.sh --shell", with veloxd started as there.
vx_shell_up
vx_shell -c '/etc/init.d/veloxd start'
vx_wait_for 10 vx_object_listed || vx_die "veloxd did not publish its object: $(cat /tmp/messages)"

vx_traffic host1 br-lan 256000 >/dev/null
vx_traffic br-lan host2 640000 >/dev/null
vx_traffic sta0 br-lan 64000 >/dev/null
# Two passes, so that the speeds have been derived.
sleep 2.2

doc_check_page "$here/../../docs/api.md" "$@"
[ "${1:-}" = --print ] && exit 0
# The other forms of the error line, which the page gives in words.
vx_expect_eq "a failed call's exit status without a terminal" \
	"$(vx_shell -c 'ubus call veloxd get_speed 2>/dev/null; echo $?')" 253
if command -v script >/dev/null; then
	vx_expect_eq "a failed call's line and exit status on a terminal" \
		"$(vx_shell -c 'script -qec "ubus call veloxd get_speed" /dev/null; echo "exit $?"' | tr -d '\r')" \
		$'Command failed: Method not found\nexit 3'
fi
vx_done
