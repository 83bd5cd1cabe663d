# Front door: `make` builds both launchers and the host tests, `make test` runs
# every test. Both first install the Debian packages the build lacks.

BUILD      := build
WIN32_DIR  := $(BUILD)/win32
WIN64_DIR  := $(BUILD)/win64
HOST_DIR   := $(BUILD)/host
JOBS       ?= $(shell nproc)

PACKAGES := cmake make g++ libgtest-dev \
            g++-mingw-w64-i686-posix g++-mingw-w64-x86-64-posix \
            wine64 xvfb xdotool x11-apps python3-pefile llvm \
            debootstrap fonts-wine

.PHONY: all test demo bench deps clean

all: deps
	cmake -S . -B $(WIN32_DIR) --toolchain cmake/i686-w64-mingw32.cmake
	cmake --build $(WIN32_DIR) -j $(JOBS)
	cmake -S . -B $(WIN64_DIR) --toolchain cmake/x86_64-w64-mingw32.cmake
	cmake --build $(WIN64_DIR) -j $(JOBS)
	cmake -S . -B $(HOST_DIR) -DWIN32_BUILD_DIR=$(CURDIR)/$(WIN32_DIR) -DWIN64_BUILD_DIR=$(CURDIR)/$(WIN64_DIR)
	cmake --build $(HOST_DIR) -j $(JOBS)

test: all
	ctest --test-dir $(HOST_DIR) --output-on-failure -j $(JOBS)

# The whole job under Wine: once with a virtual disc (prints what the setup
# program received), once without (the prompt, then Cancel).
demo: all
	/usr/bin/python3 tests/wine/demo.py --launcher $(WIN64_DIR)/Quilra3Patch.exe \
	  --helpers $(WIN64_DIR)/tests/helpers --work $(BUILD)/demo --prefix $(BUILD)/wine-prefix

# Start to launch against an empty program's start to exit, under Wine, and
# the shipped file's section sizes. Not a test.
bench: all
	/usr/bin/python3 tests/wine/bench.py --launcher $(WIN64_DIR)/Quilra3Patch.exe \
	  --helpers $(WIN64_DIR)/tests/helpers --work $(BUILD)/bench --prefix $(BUILD)/wine-prefix \
	  --runs 20
	/usr/bin/python3 tests/pe/check_exe.py $(WIN32_DIR)/Quilra3Patch.exe Size

deps:
	@missing=$$(for p in $(PACKAGES); do \
	    dpkg-query -W -f='$${Status}\n' $$p 2>/dev/null | grep -q '^install ok installed' || echo $$p; \
	  done); \
	if [ -n "$$missing" ]; then \
	  if [ "$$(id -u)" = 0 ]; then \
	    apt-get update && DEBIAN_FRONTEND=noninteractive apt-get install -y --no-install-recommends $$missing; \
	  else \
	    echo "Missing packages; run: sudo apt-get install --no-install-recommends" $$missing; exit 1; \
	  fi; \
	fi

clean:
	rm -rf $(BUILD)
