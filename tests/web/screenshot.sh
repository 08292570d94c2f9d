#!/usr/bin/env bash
# The README's picture of the status page: the demo's traffic with a few
# changes of rate over a minute and a half, so the graphs have a shape.
# Usage: tests/web/screenshot.sh [PNG]   (default docs/img/veloxd-status.png)
# Needs the programs as the web tests get them (VX_BIN_*), see CMakeLists.txt.
here=$(cd "$(dirname "$0")" && pwd)
. "$here/sandbox.sh"
web_require
out=$(realpath -m "${1:-$web_top/docs/img/veloxd-status.png}")
mkdir -p "$(dirname "$out")"
vx_reexec_in_ns "$here/screenshot.sh" "$out"
web_up
vx_traffic host1 br-lan 256000 >/dev/null
vx_traffic br-lan host2 640000 >/dev/null
vx_traffic sta0 br-lan 64000 >/dev/null
# The page keeps history from its own start: open it, then vary the rates.
WEB_URL=$VX_WEB_URL WEB_OUT=$out WEB_WAIT=95 node "$here/screenshot.mjs" &
shot=$!
sleep 30
extra=$(vx_traffic host1 br-lan 128000)
wl=$(vx_traffic br-lan sta0 48000)
sleep 25
kill "$extra"
sleep 20
kill "$wl"
wait "$shot"
