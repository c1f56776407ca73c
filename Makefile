# make check: install what is missing (as root), build all four presets and run every test,
#             then check what the libraries export and use the installed package.
# make demo:  build the libraries and run the examples natively and under Wine (the streams on a terminal).
SHELL := /bin/bash
PRESETS := linux-debug linux-release windows-debug windows-release
DEBIAN_PACKAGES := cmake make g++ clang libgtest-dev googletest g++-mingw-w64-x86-64-posix wine64 util-linux pkgconf
WINE_RUN := $(CURDIR)/cmake/wine-run.sh
DEMO_DIR := $(CURDIR)/build/demo

# preset-% stays out of .PHONY: make applies no pattern rule to a phony
# target, so a phony preset-linux-debug would build and test nothing.
.PHONY: all check demo deps export-check package-check

all: check

# Installs the Debian packages that are missing, and only those.
deps:
	@missing=""; \
	for p in $(DEBIAN_PACKAGES); do \
	  dpkg-query -W -f='$${Status}\n' "$$p" 2>/dev/null | grep -q "install ok installed" || missing="$$missing $$p"; \
	done; \
	if [ -n "$$missing" ]; then \
	  if [ "$$(id -u)" = 0 ]; then \
	    echo "installing:$$missing"; \
	    apt-get update -qq && DEBIAN_FRONTEND=noninteractive apt-get install -y -qq $$missing; \
	  else \
	    echo "missing Debian packages:$$missing (run make as root to install them)"; exit 1; \
	  fi; \
	fi

preset-%: deps
	cmake --preset $*
	cmake --build --preset $*
	ctest --preset $*

check: deps $(addprefix preset-,$(PRESETS)) export-check package-check
	@echo "make check: all presets built and tested"

# After the presets are built: what both libraries export, Debug against
# Release on each platform; then the installed package, used by a consumer
# project through find_package and through pkg-config.
BUILD_ROOT := build/
EXPORT_CHECK := tests/exports/check-exports.sh

export-check: $(addprefix preset-,$(PRESETS))
	$(EXPORT_CHECK) tests/exports/u8port-lib.txt $(BUILD_ROOT)linux-debug/lib/libu8port-libd.so $(BUILD_ROOT)linux-release/lib/libu8port-lib.so
	$(EXPORT_CHECK) tests/exports/u8port-lib.txt $(BUILD_ROOT)windows-debug/bin/u8port-libd.dll $(BUILD_ROOT)windows-release/bin/u8port-lib.dll
	$(EXPORT_CHECK) tests/exports/calltrail_noop.txt $(BUILD_ROOT)linux-debug/lib/libcalltrail_noopd.so $(BUILD_ROOT)linux-release/lib/libcalltrail_noop.so
	$(EXPORT_CHECK) tests/exports/calltrail_noop.txt $(BUILD_ROOT)windows-debug/bin/calltrail_noopd.dll $(BUILD_ROOT)windows-release/bin/calltrail_noop.dll

package-check: $(addprefix preset-,$(PRESETS))
	tests/package/check-package.sh linux $(BUILD_ROOT)linux-debug $(BUILD_ROOT)linux-release $(BUILD_ROOT)package-linux
	tests/package/check-package.sh windows $(BUILD_ROOT)windows-debug $(BUILD_ROOT)windows-release $(BUILD_ROOT)package-windows

# The streams example runs on a terminal of its own, a tmux pane.
DEBIAN_PACKAGES += tmux

demo: deps
	cmake --preset linux-release >/dev/null
	cmake --build --preset linux-release --target u8port_tour u8port_streams
	cmake --preset windows-release >/dev/null
	cmake --build --preset windows-release --target u8port_tour u8port_streams
	@rm -rf $(DEMO_DIR) && mkdir -p $(DEMO_DIR)/linux $(DEMO_DIR)/windows
	@echo "== Linux"
	build/linux-release/bin/u8port_tour $(DEMO_DIR)/linux --keep
	@echo "== Windows (under Wine)"
	cd build/windows-release/bin && $(WINE_RUN) ./u8port_tour.exe ../../demo/windows --keep
	@echo "== The names on disk (ls -b shows any byte that is not printable)"
	ls -b $(DEMO_DIR)/linux $(DEMO_DIR)/windows
	@echo "== The streams on a terminal: a line is typed in, then the screen is shown (Linux, then a Wine console)"
	sh tests/integration/streams_console_test.sh --show build/linux-release/bin/u8port_streams
	sh tests/integration/streams_console_test.sh --show $(WINE_RUN) build/windows-release/bin/u8port_streams.exe
