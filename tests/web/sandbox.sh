# Shared by the web tests: the e2e sandbox with ubusd and veloxd, and the
# gateway with the page's files, its ACL, the tests' ACL and three logins:
#   root    every group, read and write
#   viewer  the page's group read-only (and the anonymous grants)
#   tester  only the tests' group (acl.d/gw-test.json)
web_here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
web_top=$(cd "$web_here/../.." && pwd)
. "$web_top/tools/sandbox.sh"
. "$web_top/tests/e2e/check.sh"
. "$web_top/tools/web-gateway.sh"

web_require() {
	[ -n "${VX_BIN_UBUS_HTTPD:-}" ] && [ -x "$VX_BIN_UBUS_HTTPD" ] ||
		vx_skip "ubus-httpd not built (libmicrohttpd-dev missing?)"
	command -v node >/dev/null || vx_skip "node not installed"
}

# web_require_browser: web_require, and headless chromium driven by puppeteer-core.
web_require_browser() {
	web_require
	command -v "${WEB_CHROMIUM:-chromium}" >/dev/null || vx_skip "chromium not installed"
	[ -d "$web_here/node_modules/puppeteer-core" ] || vx_skip "puppeteer-core not installed (npm ci in tests/web)"
}

web_up() {
	vx_sandbox_up
	vx_start_ubusd
	vx_start_veloxd /tmp/veloxd.log
	vx_web_start /tmp/ubus-httpd.log 127.0.0.1:0 -A "$web_here/acl.d" \
		-L 'root:*:*' -L 'viewer:unauthenticated,luci-app-veloxd:' -L 'tester:gw-test:' "$@" ||
		vx_die "gateway did not start"
}
