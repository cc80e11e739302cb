# The two commands a new user types: `make demo` and `make test`.
.PHONY: all deps deps-demo deps-build deps-qemu build test test-native test-sanitize test-fuzz test-windows demo bench install uninstall clean fuzz \
	package package-windows

all: build

# Debian packages for tools that are missing: the compiler and CMake for
# the demo, the build set for building, the QEMU examples' set, the full
# set (MinGW, Wine, QEMU...) for the tests.
deps-demo:
	@scripts/install-deps.sh demo

deps-build:
	@scripts/install-deps.sh build

deps-qemu:
	@scripts/install-deps.sh qemu

deps:
	@scripts/install-deps.sh all

build: deps-build
	@cmake --preset default >/dev/null
	@cmake --build --preset default

# Every deliverable built, every test run; stops at the first failure.
test: deps test-native test-sanitize test-fuzz test-windows

test-native:
	cmake --preset default >/dev/null
	cmake --build --preset default
	ctest --preset default

test-sanitize:
	cmake --preset sanitize >/dev/null
	cmake --build --preset sanitize
	ctest --preset sanitize

# The fuzz targets (fuzz/README.md): every checked-in input replayed, then
# each target fuzzed for 30 s. Skipped where clang or libFuzzer is missing.
test-fuzz: deps
	@if ! command -v clang++ >/dev/null 2>&1; then \
	    echo "test-fuzz: skipped: clang++ is not installed (Debian: clang libclang-rt-14-dev)"; exit 0; \
	fi; \
	cmake --preset fuzz >/dev/null && cmake --build --preset fuzz || exit 1; \
	if [ ! -x build/fuzz/fuzz_line ]; then \
	    echo "test-fuzz: skipped: clang cannot link libFuzzer (Debian: libclang-rt-14-dev)"; exit 0; \
	fi; \
	ctest --preset fuzz

# Each fuzz target for FUZZ_SECONDS, one after another; what they find is
# kept in build/fuzz/run/TARGET (corpus/ from run to run, artifacts/ crashes).
FUZZ_SECONDS ?= 600
FUZZ_TARGETS = line client options matcher telnet
fuzz: deps
	@command -v clang++ >/dev/null 2>&1 || { echo "make fuzz: clang++ is not installed (Debian: clang libclang-rt-14-dev)"; exit 1; }
	@cmake --preset fuzz >/dev/null
	@cmake --build --preset fuzz
	@[ -x build/fuzz/fuzz_line ] || { echo "make fuzz: clang cannot link libFuzzer (Debian: libclang-rt-14-dev)"; exit 1; }
	@for t in $(FUZZ_TARGETS); do \
	    sh fuzz/run.sh fuzz build/fuzz/fuzz_$$t $$t build/fuzz/run/$$t $(FUZZ_SECONDS) || exit 1; \
	done

# tolvane-win cross-built with MinGW; its unit tests, then the end-to-end
# tests (a Linux program) run it under Wine.
test-windows:
	cmake --preset mingw >/dev/null
	cmake --build --preset mingw
	ctest --preset mingw
	cmake --preset default >/dev/null
	cmake --build --preset default --target win_e2e_tests
	ctest --preset wine

# tolvane on a simulated board, in the scratch directory build/demo: only
# the two programs, unoptimised and without the tests (preset demo), unless
# build/default is there already, whose programs are then brought up to date.
demo: deps-demo
	@if [ -f build/default/build.ninja ]; then \
	    cmake --build --preset default --target tolvane tolvane-sim && sim/demo.sh build/default build/demo; \
	else \
	    cmake --preset demo >/dev/null && cmake --build --preset demo --target tolvane tolvane-sim && \
	    sim/demo.sh build/demo-programs build/demo; \
	fi

# tolvane beside picocom, cat and lrzsz on pseudo-terminals, and tolvane-win
# under Wine beside tolvane: one table of medians. Sizes can be changed:
# make bench BENCH_ARGS="--runs=3 --file=2M".
BENCH_ARGS ?= --runs=5 --passthrough=2M --file=1M --getc=2000 --idle-ms=2000 --keys=100k --wine-idle-ms=10000
bench: deps
	@cmake --preset default >/dev/null
	@cmake --build --preset default --target tolvane-bench
	@if command -v x86_64-w64-mingw32-g++ >/dev/null 2>&1; then \
	    cmake --preset mingw >/dev/null && \
	    cmake --build --preset mingw --target tolvane-win win_bare_host win_console_writer || exit 1; \
	else \
	    echo "make bench: no MinGW-w64: tolvane-win's rows show as missing"; \
	fi
	build/default/tolvane-bench $(BENCH_ARGS)

# make install PREFIX=/opt/x DESTDIR=/tmp/stage; make uninstall with the
# same two removes what it put there.
PREFIX ?= /usr/local
install: deps-build
	@cmake --preset default >/dev/null
	@cmake --build --preset default --target tolvane shell-completions
	@DESTDIR="$(DESTDIR)" scripts/install.sh install build/default "$(PREFIX)"

uninstall:
	@DESTDIR="$(DESTDIR)" scripts/install.sh uninstall build/default "$(PREFIX)"

# A Debian package of tolvane, its man page, completions and README in
# build/default/package: sudo apt install ./build/default/package/tolvane_*.deb
package: deps-build
	@cmake --preset default >/dev/null
	@cmake --build --preset default --target tolvane shell-completions
	@cpack --config build/default/CPackConfig.cmake

# tolvane-win.exe, its README.txt and the licence in a zip, in
# build/mingw/package.
package-windows: deps-build
	@command -v x86_64-w64-mingw32-g++-posix >/dev/null 2>&1 || \
	    { echo "make package-windows: no MinGW-w64 (Debian: g++-mingw-w64-x86-64; make deps installs it)"; exit 1; }
	@cmake --preset mingw >/dev/null
	@cmake --build --preset mingw --target package-windows

clean:
	rm -rf build

# The client library in real firmware: the example board on QEMU's
# mps2-an385, tolvane in this terminal on its serial line (build/example-qemu).
.PHONY: example-qemu
example-qemu: deps-qemu
	@cmake --preset default >/dev/null
	@cmake --build --preset default --target tolvane
	@examples/mps2-an385/run.sh build/default/tolvane build/mps2-an385 build/example-qemu

# The example board's firmware on newlib: fopen, fprintf, printf... unchanged
# on host files, in build/example-qemu-newlib (it asks for a line: type one).
.PHONY: example-qemu-newlib
example-qemu-newlib: deps-qemu
	@cmake --preset default >/dev/null
	@cmake --build --preset default --target tolvane
	@examples/mps2-an385/run.sh build/default/tolvane build/mps2-an385 build/example-qemu-newlib firmware-newlib

# The example board's test runner under tolvane as a CI job runs it (-d
# build/example-qemu-ci --expect PASS --fail FAIL --timeout 60), its report.xml
# checked; the status is tolvane's. PLANT_FAILURE=1: one check fails.
.PHONY: example-qemu-ci
example-qemu-ci: deps-qemu
	@cmake --preset default >/dev/null
	@cmake --build --preset default --target tolvane
	@examples/mps2-an385/ci.sh build/default/tolvane build/mps2-an385-tests build/example-qemu-ci \
	    $(if $(PLANT_FAILURE),--plant-failure)

# The test runner built with --coverage under tolvane as a CI job runs it:
# the board writes its .gcda files into build/example-qemu-coverage, then
# arm-none-eabi-gcov prints the line coverage of the example's sources.
.PHONY: example-qemu-coverage
example-qemu-coverage: deps-qemu
	@cmake --preset default >/dev/null
	@cmake --build --preset default --target tolvane
	@examples/mps2-an385/coverage.sh build/default/tolvane build/mps2-an385 build/example-qemu-coverage
