# Build, test and demo entry points; see README.md.
SHELL := /bin/bash
MAKEFLAGS += --no-print-directory
JOBS ?= $(shell nproc)
WIN := build/win32
NATIVE := build/native
WIN64 := build/win64
WIN64_JOBS ?= 2

.PHONY: all setup build build-win32 build-win64 build-native test test-native test-win32 demo dist screenshots bench soak clean

all: build

setup:
	@scripts/setup.sh

build: setup build-win32 build-native

build-win32:
	@cmake -S . -B $(WIN) -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-i686.cmake -DCMAKE_BUILD_TYPE=Release >/dev/null
	@cmake --build $(WIN) -j$(JOBS)

# Opt-in 64-bit Windows build (the DLL, tools, samples, api tests), warnings as errors; not part of
# build or test.
build-win64: setup
	@scripts/setup-win64.sh
	@cmake -S . -B $(WIN64) -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-x86_64.cmake -DCMAKE_BUILD_TYPE=Release -DQELVAN_WERROR=ON >/dev/null
	@cmake --build $(WIN64) -j$(WIN64_JOBS)

build-native:
	@cmake -S . -B $(NATIVE) -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
	@cmake --build $(NATIVE) -j$(JOBS)

test: build
	@$(MAKE) --no-print-directory test-native
	@$(MAKE) --no-print-directory test-win32

test-native:
	@ctest --test-dir $(NATIVE) --output-on-failure

test-win32:
	@scripts/winsession ctest --test-dir $(WIN) --output-on-failure

demo: build
	@scripts/demo.sh out

dist: build
	@scripts/dist.sh $(WIN)/bin dist

screenshots: build
	@scripts/screenshots.sh docs/images

bench: build
	@scripts/bench.sh

# Long stress runs (minutes each); prints SOAK figure lines.
soak: build
	@scripts/soak.sh

clean:
	rm -rf $(WIN) $(NATIVE) $(WIN64)
