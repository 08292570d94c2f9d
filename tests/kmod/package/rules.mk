# Stub of the firmware build's rules: only what a kernel package reads.
# The real ones are not available here; this checks the package's own
# consistency and runs its build steps against a host kernel tree.
INCLUDE_DIR := $(TOPDIR)/include
BUILD_DIR ?= $(TOPDIR)/build_dir
CP := cp -fpR
