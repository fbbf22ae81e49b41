# Entry points. Each target installs missing Debian packages first, so on a
# fresh Debian 12 machine `make run` and `make test` do all the set-up.
#
#   make run        build, install the reference server, render the sample clip
#   make test       build and run the whole test suite
#   make test-asan  the test suite under AddressSanitizer + UBSan (+ LeakSanitizer)
#   make test-tsan  the test suite under ThreadSanitizer
#   make bench      micro-benchmarks and end-to-end frame benchmarks
#   make fuzz       run every libFuzzer target for FUZZ_SECONDS each
#   make package    the Debian package of a render node, from the release tree
#
# Every build has its own folder under build/. The test, sanitizer and bench
# builds use their own server port and a maker folder inside their build
# tree, so they never touch the machine's real locations or a server that
# `make run` left running.

JOBS        ?= $(shell nproc)
BUILD       ?= build
# Ports of the test, sanitizer, bench and fuzz trees: PORT_BASE + 7, 17, 27,
# 37, 47. Two clones that run their suites at once need different bases.
PORT_BASE   ?= 17000
port         = $(shell echo $$(( $(PORT_BASE) + $(1) )))
FUZZ_SECONDS ?= 60
CMAKE       := cmake
DEPS        := scripts/install-deps.sh

.PHONY: all deps run package test test-asan test-tsan bench fuzz clean

all: run

deps:
	@bash $(DEPS)

# --- the main job ----------------------------------------------------------
$(BUILD)/release/CMakeCache.txt: | deps
	$(CMAKE) -S . -B $(BUILD)/release -DCMAKE_BUILD_TYPE=Release -DTEV_BUILD_TESTS=OFF

run: deps $(BUILD)/release/CMakeCache.txt
	$(CMAKE) --build $(BUILD)/release -j $(JOBS)
	@if [ -x scripts/run-demo.sh ]; then bash scripts/run-demo.sh $(BUILD)/release; \
	 else echo "make run: the rendering demo is not built yet (see README)"; fi

# The package of the release tree (its fixed locations: /opt/VRAL, port 7007),
# build/release/tev-bridge_<version>_<arch>.deb.
package: deps $(BUILD)/release/CMakeCache.txt
	$(CMAKE) --build $(BUILD)/release -j $(JOBS)
	cd $(BUILD)/release && cpack -G DEB
	@ls $(BUILD)/release/tev-bridge_*.deb

# --- tests -----------------------------------------------------------------
# The test and sanitizer trees fail on any compiler warning (-Werror); the
# release, bench and fuzz trees only report them.
define test_build
	$(CMAKE) -S . -B $(BUILD)/$(1) -DCMAKE_BUILD_TYPE=$(2) -DTEV_BUILD_TESTS=ON \
	  -DTEV_SERVER_PORT=$(3) -DTEV_MAKER_FOLDER=$(CURDIR)/$(BUILD)/$(1)/maker \
	  -DTEV_SANITIZE=$(4) -DTEV_WARNINGS_AS_ERRORS=ON $(5)
	$(CMAKE) --build $(BUILD)/$(1) -j $(JOBS)
	cd $(BUILD)/$(1) && ctest --output-on-failure -j $(JOBS) $(CTEST_ARGS)
endef

test: deps
	$(call test_build,test,RelWithDebInfo,$(call port,7),,)

test-asan: deps
	$(call test_build,asan,Debug,$(call port,17),address,)

test-tsan: deps
	$(call test_build,tsan,RelWithDebInfo,$(call port,27),thread,)

# --- benchmarks and fuzzing ------------------------------------------------
bench: deps
	$(CMAKE) -S . -B $(BUILD)/bench -DCMAKE_BUILD_TYPE=Release -DTEV_BUILD_TESTS=OFF \
	  -DTEV_BUILD_BENCH=ON -DTEV_SERVER_PORT=$(call port,37) -DTEV_MAKER_FOLDER=$(CURDIR)/$(BUILD)/bench/maker
	$(CMAKE) --build $(BUILD)/bench -j $(JOBS)
	$(CMAKE) --build $(BUILD)/bench --target run-bench

fuzz: deps
	CC=clang CXX=clang++ $(CMAKE) -S . -B $(BUILD)/fuzz -DCMAKE_BUILD_TYPE=RelWithDebInfo \
	  -DTEV_BUILD_TESTS=OFF -DTEV_BUILD_FUZZ=ON -DTEV_SERVER_PORT=$(call port,47) \
	  -DTEV_MAKER_FOLDER=$(CURDIR)/$(BUILD)/fuzz/maker -DTEV_FUZZ_SECONDS=$(FUZZ_SECONDS)
	$(CMAKE) --build $(BUILD)/fuzz -j $(JOBS)
	$(CMAKE) --build $(BUILD)/fuzz --target run-fuzz

clean:
	rm -rf $(BUILD)
