# Build, test and demo entry points; see README.md.
SHELL := /bin/bash
MAKEFLAGS += --no-print-directory
JOBS ?= $(shell nproc)
WIN := build/win32
NATIVE := build/native
WIN64 := build/win64

.PHONY: all setup build build-win32 build-win64 build-native test test-native test-windows test-win32 test-win64 demo dist docs screenshots bench soak clean

all: build

setup:
	@scripts/setup.sh

build: setup build-win32 build-win64 build-native

# Both Windows builds come from the same sources, warnings as errors. The 64-bit one also makes
# the virtual camera's driver, which every Wine session loads.
build-win32:
	@cmake -S . -B $(WIN) -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-i686.cmake -DCMAKE_BUILD_TYPE=Release -DQELVAN_WERROR=ON >/dev/null
	@cmake --build $(WIN) -j$(JOBS)

build-win64:
	@cmake -S . -B $(WIN64) -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-x86_64.cmake -DCMAKE_BUILD_TYPE=Release -DQELVAN_WERROR=ON >/dev/null
	@cmake --build $(WIN64) -j$(JOBS)

build-native:
	@cmake -S . -B $(NATIVE) -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
	@cmake --build $(NATIVE) -j$(JOBS)

test: build
	@$(MAKE) --no-print-directory test-native
	@$(MAKE) --no-print-directory test-windows

test-native:
	@ctest --test-dir $(NATIVE) --output-on-failure

# The Windows suite against each DLL, side by side in two Wine prefixes, each with its own
# 64-bit virtual camera driver.
test-windows:
	@scripts/test-windows.sh

test-win32:
	@scripts/winsession ctest --test-dir $(WIN) --output-on-failure

test-win64:
	@WINEPREFIX=$(CURDIR)/build/wineprefix64 scripts/winsession ctest --test-dir $(WIN64) --output-on-failure -LE once

# Only what the demo runs: the capture sample of each build (with its DLL), the driver and vcam.exe.
demo: setup
	@cmake -S . -B $(WIN) -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-i686.cmake -DCMAKE_BUILD_TYPE=Release -DQELVAN_WERROR=ON >/dev/null
	@cmake --build $(WIN) -j$(JOBS) --target qelvan-capture
	@cmake -S . -B $(WIN64) -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-x86_64.cmake -DCMAKE_BUILD_TYPE=Release -DQELVAN_WERROR=ON >/dev/null
	@cmake --build $(WIN64) -j$(JOBS) --target qelvan-capture vcam_driver vcam
	@scripts/demo.sh out

dist: build
	@scripts/dist.sh dist

# The API reference from include/QelvanSdk.h: build/docs/html/index.html.
docs:
	@scripts/setup.sh packages >/dev/null
	@scripts/docs.sh build/docs

screenshots: build
	@scripts/screenshots.sh docs/images

bench: build
	@scripts/bench.sh

# Long stress runs (minutes each); prints SOAK figure lines.
soak: build
	@scripts/soak.sh

clean:
	rm -rf $(WIN) $(NATIVE) $(WIN64)
