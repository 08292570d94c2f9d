#!/usr/bin/env bash
# The handlers' debug messages at log level 3, over the real bus: "test"
# logs after its reply; "get_lan_port_info" logs the requested slot as an
# unsigned number, out of range too, and nothing when "interface1" is
# missing or not an integer.
here=$(cd "$(dirname "$0")" && pwd)
. "$here/../../tools/sandbox.sh"
. "$here/check.sh"
vx_reexec_in_ns "$here/debug.sh" "$@"
vx_sandbox_up
vx_start_ubusd

"$VX_BIN_DEBUG_PROBE" >/tmp/probe.log 2>&1 &
probe=$!
vx_wait_for 20 vx_object_listed || vx_die "probe did not publish veloxd: $(cat /tmp/probe.log)"

vx_expect_eq "test still answers" "$(vx_ubus -S call veloxd test)" '{"error_code":0}'
for args in '' '{}' '{"interface2": 1}' '{"interface1": "3"}' '{"interface1": 12}' '{"interface1": -1}' '{"interface1": 2}'; do
	if [ -n "$args" ]; then
		vx_ubus call veloxd get_lan_port_info "$args" >/dev/null
	else
		vx_ubus call veloxd get_lan_port_info >/dev/null
	fi
done
vx_ubus call veloxd set_display_interface '{"interface1": 4}' >/dev/null

kill -TERM "$VX_UBUSD_PID"
wait "$VX_UBUSD_PID"
vx_wait_for 30 eval '! kill -0 '"$probe"
wait "$probe"
vx_expect_eq "bus gone: the service returns and the process exits 0" "$?" 0

log=$(grep -vE '^\[DEBUG\] (main|interface_list_dump|switch_stat_init|interface_list_init)\(' /tmp/probe.log |
	grep -E 'Just a test|config value|^\[(ERROR|DEBUG)\] ubus_' | sed -E 's/\(([0-9]+)\)/(N)/')
vx_expect_eq "debug messages of the handlers, in call order" "$log" \
"[DEBUG] ubus_test(N) : Just a test ...
[DEBUG] ubus_get_lan_port_info(N) : config value: 12
[DEBUG] ubus_get_lan_port_info(N) : config value: 4294967295
[DEBUG] ubus_get_lan_port_info(N) : config value: 2"
vx_done
