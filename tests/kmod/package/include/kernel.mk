# Stub: the kernel tree and make flags of the target (LINUX_DIR given).
LINUX_KMOD_SUFFIX := ko
KERNEL_MAKE_FLAGS ?=

# Priority and modules to load at boot, as the image's loader list takes them.
define AutoLoad
$(1) $(2)
endef
