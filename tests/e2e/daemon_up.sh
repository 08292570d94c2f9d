# shellcheck shell=bash
# The opening of the scripts that call veloxd's methods over the bus, sourced
# after they set $here: the script runs again inside the sandbox with ubusd
# and veloxd up (its log in /tmp/veloxd.log), and the two replies many
# checks expect are at hand.
: "${here:?the directory of the sourcing script}"
# shellcheck source=../../tools/sandbox.sh
. "$here/../../tools/sandbox.sh"
# shellcheck source=check.sh
. "$here/check.sh"
vx_reexec_in_ns "$here/${0##*/}" "$@"
vx_sandbox_up
vx_start_ubusd
vx_start_veloxd /tmp/veloxd.log

# shellcheck disable=SC2034 # used by the scripts that source this one
ok_reply="{
$T\"error_code\": 0
}"
# shellcheck disable=SC2034
empty_reply="{
$T
}"
