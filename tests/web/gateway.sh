#!/usr/bin/env bash
# ubus-httpd against the endpoint's protocol and against bad clients, with
# veloxd on the sandbox's bus; the gateway must outlive all of it.
here=$(cd "$(dirname "$0")" && pwd)
. "$here/sandbox.sh"
web_require
vx_reexec_in_ns "$here/gateway.sh" "$@"
web_up -t 2 -L 'limited:*,!luci-app-veloxd:'
gw=$VX_WEB_PID
WEB_URL=$VX_WEB_URL
# A document root, behind the page's, with what must not be served.
WEB_DOCROOT=$(mktemp -d /tmp/gateway-root.XXXXXX)
mkfifo "$WEB_DOCROOT/fifo"
mkdir "$WEB_DOCROOT/sub"
echo inside >"$WEB_DOCROOT/page.txt"
ln -s page.txt "$WEB_DOCROOT/inside"
ln -s / "$WEB_DOCROOT/rootlink"
ln -s /etc/passwd "$WEB_DOCROOT/outside"
vx_web_start /tmp/ubus-httpd-open.log 127.0.0.1:0 -a -X -k 2 -h "$WEB_DOCROOT" ||
	vx_die "second gateway did not start"
export WEB_URL WEB_URL_OPEN=$VX_WEB_URL VX_VELOXD_PID VX_UBUSD_PID VX_SOCK
VX_WEB_PID=$gw
node "$here/gateway.mjs"
rc=$?
rm -rf "$WEB_DOCROOT"
# Still up, and it ends cleanly on SIGTERM (under the sanitizers: no leak
# and no error report either).
if kill -0 "$VX_WEB_PID" 2>/dev/null; then
	echo "ok - the gateway is still running"
	kill -TERM "$VX_WEB_PID"
	wait "$VX_WEB_PID"
	vx_expect_eq "the gateway exits with 0 on SIGTERM" "$?" 0
	[ "$VX_FAIL" = 0 ] || { cat /tmp/ubus-httpd.log; rc=1; }
else
	echo "not ok - the gateway died: $(tail -n 20 /tmp/ubus-httpd.log)"
	rc=1
fi
exit $rc
