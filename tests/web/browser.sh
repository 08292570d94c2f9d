#!/usr/bin/env bash
# The status page in headless chromium against the sandbox's veloxd with
# generated traffic: figures, graphs and history, selection control, a
# read-only login, narrow and wide windows, and veloxd going away and coming
# back. The page opens once veloxd has a few seconds of history.
here=$(cd "$(dirname "$0")" && pwd)
. "$here/sandbox.sh"
web_require_browser
vx_reexec_in_ns "$here/browser.sh" "$@"
web_up

FRAME=1000
R1=256000 R2=640000 R3=192000
vx_traffic host1 br-lan $R1 >/dev/null
vx_traffic br-lan host2 $R2 >/dev/null
vx_traffic sta0 br-lan $R3 >/dev/null

# kbit/s (1024 bit/s) per slot, [tx, rx]; the bridge counts received frames
# without their 14-byte Ethernet header.
k() { awk -v r="$1" -v s="${2:-1}" 'BEGIN { printf "%.2f", r * s * 8 / 1024 }'; }
share=$(awk -v f=$FRAME 'BEGIN { print (f - 14) / f }')
WEB_EXPECT=$(printf '{"0":[0,%s],"1":[%s,0],"2":[%s,%s],"3":[0,%s],"9":[%s,%s]}' \
	"$(k $R1)" "$(k $R2)" "$(k $R2)" "$(k $R1)" "$(k $R3)" "$(k $R2)" "$(k $((R1 + R3)) "$share")")
export WEB_EXPECT WEB_URL=$VX_WEB_URL VX_SOCK VX_VELOXD_PID VX_BIN_VELOXD VX_BIN_UBUS
WEB_VELOXD_ENV=$(vx_switch_env)
export WEB_VELOXD_ENV
node "$here/browser.mjs"
