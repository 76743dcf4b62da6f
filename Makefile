# Telvio: build and test wrapper around the CMake trees.
#   make test    install what is missing, build every configuration, run every test
#   make build   every tree, without running anything: host, win64, win32, host32 (the
#                i386 Linux libraries that the 32-bit program's Wine loads under qemu)
#                and fuzz
#   make bench   benchmarks (Release, native) and the program's start-up under Wine
#   make fuzz    a long fuzzing campaign (clang, ASan and UBSan)
#   make demo    one whole upgrade of a simulated drive through the real windows
#                (ASPI=1 the 9x path, INTERACTIVE=1 on your display, OUT=dir screenshots,
#                DPI=144 the screen at that DPI, in a Wine prefix of its own)
#   make dist    the release zips and their SHA256SUMS in dist/ (DIST=dir elsewhere)
# BUILD=dir puts the trees somewhere other than build/ (several checkouts side by side).

BUILD ?= build
JOBS ?= 2
FUZZ_SECONDS ?= 60
DIST ?= dist
CMAKE ?= cmake
CTEST ?= ctest
ROOT := $(abspath .)

HOST := $(BUILD)/host
WIN64 := $(BUILD)/win64
WIN32 := $(BUILD)/win32
HOST32 := $(BUILD)/host32
BENCHDIR := $(BUILD)/bench
FUZZDIR := $(BUILD)/fuzz

.PHONY: all deps build configure test test-host test-win64 test-fuzz bench fuzz clean demo dist

all: build

deps:
	@bash tools/install-deps.sh

$(HOST)/CMakeCache.txt:
	$(CMAKE) -S . -B $(HOST) -DCMAKE_BUILD_TYPE=Debug -DTELVIO_SANITIZE=ON
$(WIN64)/CMakeCache.txt:
	$(CMAKE) -S . -B $(WIN64) -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_TOOLCHAIN_FILE=$(ROOT)/cmake/mingw-w64-x86_64.cmake
$(WIN32)/CMakeCache.txt:
	$(CMAKE) -S . -B $(WIN32) -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_TOOLCHAIN_FILE=$(ROOT)/cmake/mingw-w64-i686.cmake
$(HOST32)/CMakeCache.txt:
	$(CMAKE) -S . -B $(HOST32) -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_TOOLCHAIN_FILE=$(ROOT)/cmake/linux-i386.cmake
$(BENCHDIR)/CMakeCache.txt:
	$(CMAKE) -S . -B $(BENCHDIR) -DCMAKE_BUILD_TYPE=Release -DTELVIO_TESTS=OFF -DTELVIO_BENCH=ON
$(FUZZDIR)/CMakeCache.txt:
	CC=clang CXX=clang++ $(CMAKE) -S . -B $(FUZZDIR) -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTELVIO_TESTS=OFF -DTELVIO_FUZZ=ON

configure: deps $(HOST)/CMakeCache.txt $(WIN64)/CMakeCache.txt $(WIN32)/CMakeCache.txt $(HOST32)/CMakeCache.txt \
	$(FUZZDIR)/CMakeCache.txt

build: configure
	$(CMAKE) --build $(HOST) -j $(JOBS)
	$(CMAKE) --build $(WIN64) -j $(JOBS)
	$(CMAKE) --build $(WIN32) -j $(JOBS)
	$(CMAKE) --build $(HOST32) -j $(JOBS)
	$(CMAKE) --build $(FUZZDIR) -j $(JOBS)

test: build
	@bash tools/run-tests.sh "$(BUILD)" "$(JOBS)" "$(FUZZ_SECONDS)"

bench: deps $(BENCHDIR)/CMakeCache.txt $(HOST)/CMakeCache.txt $(WIN64)/CMakeCache.txt
	$(CMAKE) --build $(BENCHDIR) -j $(JOBS)
	$(CMAKE) --build $(HOST) -j $(JOBS) --target telvio_sgio
	$(CMAKE) --build $(WIN64) -j $(JOBS) --target telvio telvio-user telvio-minimal telvio-template
	@TELVIO_BUILD_DIR=$(abspath $(WIN64)) TELVIO_SGIO=$(abspath $(HOST))/lib/libtelvio_sgio.so \
		bash bench/run.sh "$(BENCHDIR)"

fuzz: deps $(FUZZDIR)/CMakeCache.txt
	$(CMAKE) --build $(FUZZDIR) -j $(JOBS)
	@bash fuzz/run.sh "$(FUZZDIR)" 1800

demo: deps $(HOST)/CMakeCache.txt $(WIN64)/CMakeCache.txt
	$(CMAKE) --build $(HOST) -j $(JOBS) --target telvio_sgio
	$(CMAKE) --build $(WIN64) -j $(JOBS) --target telvio telvio-user telvio_sim_aspi
	@TELVIO_BUILD_DIR=$(abspath $(WIN64)) TELVIO_SGIO=$(abspath $(HOST))/lib/libtelvio_sgio.so \
		ASPI=$(ASPI) INTERACTIVE=$(INTERACTIVE) OUT=$(OUT) DPI=$(DPI) bash tests/e2e/demo.sh

dist: deps
	@bash tools/release/dist.sh "$(BUILD)" "$(DIST)" "$(JOBS)"

clean:
	rm -rf $(BUILD)
