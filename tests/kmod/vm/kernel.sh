# Finds the newest kernel image that has matching build headers.
# Sets kver, vmlinuz and kbuild; LUMABAR_KVER picks a version.
find_kernel() {
	local v
	for v in ${LUMABAR_KVER:-$(ls /boot 2>/dev/null | sed -n 's/^vmlinuz-//p' | sort -rV)}; do
		if [ -r "/boot/vmlinuz-$v" ] && [ -f "/lib/modules/$v/build/Makefile" ]; then
			kver=$v
			vmlinuz=/boot/vmlinuz-$v
			kbuild=/lib/modules/$v/build
			return 0
		fi
	done
	return 1
}
