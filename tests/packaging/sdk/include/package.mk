# Stand-in for package.mk. BuildPackage makes, for package P:
#   meta-P     prints "depends: ..." and P's conffiles, one a line
#   install-P  runs P's install step into $(DEST)/P
# and "prepare" runs Build/Prepare.
define BuildPackage
$(eval $(Package/$(1)))
meta-$(1):
	@echo "depends: $(strip $(DEPENDS))"
	@for f in $(strip $(Package/$(1)/conffiles)); do echo $$$$f; done
install-$(1):
	$(call Package/$(1)/install,$(DEST)/$(1))
DEPENDS:=
endef

prepare:
	$(Build/Prepare)
