#!/usr/bin/env bash
# Every example of docs/leds.md, run as written in the module's test VM
# through tools/led-vm.sh: its transcript must equal the page's examples.
#   leds.sh IMAGE      (the output of kmod.vm.build)
here=$(cd "$(dirname "$0")" && pwd)
. "$here/../e2e/check.sh"
[ -f "$1/vmlinuz.path" ] || { echo "SKIP: no VM image (kmod.vm.build skipped or failed)"; exit 77; }
command -v qemu-system-x86_64 >/dev/null || { echo "SKIP: qemu-system-x86_64 not installed"; exit 77; }
want=$(awk '/^```sh$/ { b = 1; next } /^```/ { b = 0; next } b' "$here/../../docs/leds.md")
mapfile -t cmds < <(printf '%s\n' "$want" | sed -n 's/^\$ //p')
[ "${#cmds[@]}" -gt 0 ] || { echo "no examples in docs/leds.md"; exit 1; }
got=$(VX_LED_VM_IMAGE=$1 bash "$here/../../tools/led-vm.sh" "${cmds[@]}")
vx_expect_eq "the ${#cmds[@]} commands of leds.md print what the page shows" "$got" "$want"
vx_done
