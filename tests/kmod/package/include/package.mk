# Stub: a kernel package's build steps and a check of what it declares.
PKG_BUILD_DIR ?= $(BUILD_DIR)/$(PKG_NAME)-$(PKG_RELEASE)

stub_fail = { echo "package check: $(1)" >&2; exit 1; }

define KernelPackage
$(eval $(KernelPackage/$(1)))
$(eval stub_title := $(strip $(TITLE)))
$(eval stub_depends := $(strip $(DEPENDS)))
$(eval stub_files := $(strip $(FILES)))
$(eval stub_autoload := $(strip $(AUTOLOAD)))
$(eval stub_desc := $$(strip $$(KernelPackage/$(1)/description)))

prepare:
	$(Build/Prepare)

compile: prepare
	$(Build/Compile)

# Every declared file is built, and the modules loaded at boot are those files.
check:
	@[ -n "$(stub_title)" ] || $(call stub_fail,no TITLE)
	@[ -n "$(stub_desc)" ] || $(call stub_fail,no description)
	@case "$(stub_depends)" in *@TARGET_*) ;; *) $(call stub_fail,DEPENDS names no target: $(stub_depends)) ;; esac
	@set -- $(stub_autoload); case "$$$$1" in [0-9]*) ;; *) $(call stub_fail,AUTOLOAD has no priority) ;; esac
	@for f in $(stub_files); do [ -f "$$$$f" ] || $(call stub_fail,$$$$f not built); done
	@set -- $(stub_autoload); shift; for m in "$$$$@"; do \
		case " $(notdir $(stub_files)) " in *" $$$$m.$(LINUX_KMOD_SUFFIX) "*) ;; \
		*) $(call stub_fail,autoloaded $$$$m is not among FILES) ;; esac; done
	@echo "kmod-$(1): $(stub_title); $(stub_depends); files $(notdir $(stub_files)); autoload $(stub_autoload)"

.PHONY: prepare compile check
endef
