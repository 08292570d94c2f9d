# Stand-in for an OpenWrt tree's rules.mk: only what the veloxd package
# Makefile uses, so its metadata, prepare and install steps can run on a PC.
# The paths come from the test's command line.
INCLUDE_DIR:=$(TOPDIR)/include
PKG_BUILD_DIR=$(BUILD_DIR)/$(PKG_NAME)-$(PKG_VERSION)
PKG_INSTALL_DIR=$(PKG_BUILD_DIR)/ipkg-install
CP:=cp -fpR
INSTALL_DIR:=install -d -m0755
INSTALL_BIN:=install -m0755
INSTALL_CONF:=install -m0600
INSTALL_DATA:=install -m0644
