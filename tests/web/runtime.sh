#!/usr/bin/env bash
# The client runtime stand-in against the facts of the real one, in headless
# chromium, with the gateway serving the test modules and views beside it.
here=$(cd "$(dirname "$0")" && pwd)
. "$here/sandbox.sh"
web_require_browser
vx_reexec_in_ns "$here/runtime.sh" "$@"
web_up -h "$here/htdocs"
WEB_URL=$VX_WEB_URL node "$here/runtime.mjs"
