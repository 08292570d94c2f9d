#!/usr/bin/env bash
# The source on its own, as collectd's exec plugin runs it: the lines it
# prints, the wireless series following the mode, one stderr line per
# change of state while the bus is away, and its two ways to end (SIGTERM,
# its output closed). Needs no collectd.
here=$(cd "$(dirname "$0")" && pwd)
. "$here/lib.sh"
vx_reexec_in_ns "$here/source.sh" "$@"
vx_sandbox_up
export COLLECTD_HOSTNAME=router1 COLLECTD_INTERVAL=0.500
src=$VX_BIN_COLLECTD_SOURCE

# Started before the bus: it waits, and says so once.
"$src" >/tmp/out 2>>/tmp/err &
pid=$!
vx_wait_for 30 grep -q 'values paused' /tmp/err
vx_expect_eq "no bus: one line on stderr" "$(cat /tmp/err)" \
	"veloxd-collectd: values paused: no ubus at /var/run/ubus.sock"
vx_start_ubusd
vx_start_veloxd /tmp/veloxd.log
vx_traffic host1 br-lan 256000 >/dev/null

lines() { grep -c "$1" /tmp/out || true; }
more_lines() { [ "$(lines "$1")" -ge "$2" ]; }
vx_expect_true "values once veloxd is there" vx_wait_for 60 more_lines if_octets-ap 2
vx_expect_eq "stderr: paused, then reading again" "$(tail -n 1 /tmp/err)" "veloxd-collectd: reading veloxd again"
vx_expect_eq "every line is a PUTVAL of the five instances" \
	"$(grep -v -E '^PUTVAL "router1/veloxd-(lan1|lan2|wired|bridge|wlan)/if_(octets|packets)(-ap)?" N:[0-9]+:[0-9]+$' /tmp/out)" ""
# A round prints lan1, lan2, wired, wlan, bridge, two types each; each
# round is written at once, so the last one is whole.
round=$(tac /tmp/out | sed '/lan1\/if_octets/q' | tac)
vx_expect_eq "a round's identifiers, in order" "$(echo "$round" | cut -d'"' -f2 | tr '\n' ' ')" \
	"router1/veloxd-lan1/if_octets router1/veloxd-lan1/if_packets router1/veloxd-lan2/if_octets router1/veloxd-lan2/if_packets router1/veloxd-wired/if_octets router1/veloxd-wired/if_packets router1/veloxd-wlan/if_octets-ap router1/veloxd-wlan/if_packets-ap router1/veloxd-bridge/if_octets router1/veloxd-bridge/if_packets "
sum=$(echo "$round" | awk -F'[ :]' '/if_octets"/ { split($0, a, ":"); rx[$2] = a[2]; tx[$2] = a[3] }
	END { l1 = "\"router1/veloxd-lan1/if_octets\""; l2 = "\"router1/veloxd-lan2/if_octets\""; w = "\"router1/veloxd-wired/if_octets\""
	      print (rx[l1] + rx[l2] == rx[w] && tx[l1] + tx[l2] == tx[w]) ? "sum" : rx[l1] "+" rx[l2] "!=" rx[w] }')
vx_expect_eq "wired holds the two ports' totals summed" "$sum" sum

# Mode client: the wireless series moves to the client interface.
vx_uci set opmode.op.mode=client && vx_uci commit opmode
vx_expect_true "mode client: the client interface's series" vx_wait_for 60 more_lines if_octets-client 2
n=$(grep -n if_octets-client /tmp/out | head -n 1 | cut -d: -f1)
vx_expect_eq "no ap values after the client's first" "$(tail -n +"$n" /tmp/out | grep -c if_octets-ap)" 0

# The bus away for many intervals: one line when it goes, one when it is back.
: >/tmp/err
kill "$VX_UBUSD_PID"
wait "$VX_UBUSD_PID" 2>/dev/null
# Until the source has seen the bus go.
vx_wait_for 30 grep -q 'values paused' /tmp/err
vx_start_ubusd
vx_start_veloxd /tmp/veloxd.log
n=$(lines bridge/if_octets)
vx_expect_true "values again after the bus's restart" vx_wait_for 60 more_lines bridge/if_octets $((n + 2))
vx_expect_eq "stderr during the bus's absence" "$(cat /tmp/err)" \
	"veloxd-collectd: values paused: no ubus at /var/run/ubus.sock
veloxd-collectd: reading veloxd again"

kill -TERM "$pid"
vx_expect_true "SIGTERM ends it" vx_wait_for 20 test ! -e "/proc/$pid"
wait "$pid"
vx_expect_eq "exit status after SIGTERM" $? 0

# Its output closed: it ends within an interval, without a word.
: >/tmp/err
{ "$src" 2>/tmp/err; echo $? >/tmp/status; } | head -n 1 >/dev/null
vx_expect_eq "a closed output ends it cleanly" "$(cat /tmp/status):$(cat /tmp/err)" "0:"

# The ubus ACL of the package grants the user collectd runs it as exactly
# the methods it calls. (Our ubusd trusts every client, so only a real one
# enforces it.)
acl=$VX_CHECKOUT/packaging/veloxd-collectd/files/veloxd-collectd.acl
called=$(grep -oh '"get_[a-z_]*"' "$VX_CHECKOUT"/collectd/*.c | tr -d '"' | sort -u | tr '\n' ' ')
granted=$(node -e 'const a = JSON.parse(require("fs").readFileSync(process.argv[1]));
	console.log(a.user + " " + Object.keys(a.access).join(",") + " " + a.access.veloxd.methods.sort().join(" ") + " ")' "$acl")
vx_expect_eq "ubus ACL: user, object, methods" "$granted" "nobody veloxd $called"
vx_done
