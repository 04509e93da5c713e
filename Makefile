# Task runner. ./run.sh and ./test.sh install what is missing and then come here.
BUILD ?= build
JOBS ?= $(shell nproc 2>/dev/null || echo 2)
CMAKE_FLAGS ?= -DCMAKE_BUILD_TYPE=RelWithDebInfo
# The compiler cache shares objects between checkouts of the tree.
export CCACHE_BASEDIR ?= $(CURDIR)
export CCACHE_NOHASHDIR ?= 1
comma := ,

.PHONY: build test run run-tcp screenshots bench bench-fleet install package format clean
.PHONY: test-sanitize fuzz soak flood unplug build-clang

build:
	cmake -S . -B $(BUILD) $(CMAKE_FLAGS)
	cmake --build $(BUILD) -j$(JOBS)

test: build
	cd $(BUILD) && QT_QPA_PLATFORM=offscreen ctest --output-on-failure -j$(JOBS)

run: build
	scripts/run-with-simulator.sh $(BUILD)

# The same with the simulator on a TCP port, as behind a serial server.
run-tcp: build
	scripts/run-with-simulator.sh $(BUILD) tcp

screenshots: build
	QT_QPA_PLATFORM=offscreen $(BUILD)/qx200-screenshots $(BUILD)/screenshots

bench: build
	QT_QPA_PLATFORM=offscreen $(BUILD)/qx200-bench $(BUILD)/bench.json

# qx200d polling 50 simulated projectors; BENCH_FLEET_SECONDS of measuring per run.
BENCH_FLEET_SECONDS ?= 60
bench-fleet: build
	QX200_BENCH_FLEET_SECONDS=$(BENCH_FLEET_SECONDS) $(BUILD)/qx200-bench-fleet $(BUILD)/bench-fleet.json

# Builds as the user who ran it, also under sudo (the build tree stays theirs), then installs the
# stripped programs.
install:
	$(if $(SUDO_USER),sudo -u $(SUDO_USER) --preserve-env=PATH$(comma)MAKEFLAGS,) $(MAKE) build
	cmake --install $(BUILD) --strip

# The two Debian packages, build/qx200-control_VERSION_ARCH.deb and build/qx200d_VERSION_ARCH.deb.
package: build
	cd $(BUILD) && cpack -G DEB

format:
	clang-format -i $$(git ls-files '*.cpp' '*.h')

clean:
	rm -rf $(BUILD)

# The console and the tests built with clang as well (build only): the tree stays portable.
CLANG_BUILD ?= build-clang
CLANG_CXX ?= clang++-14
build-clang:
	cmake -S . -B $(CLANG_BUILD) $(CMAKE_FLAGS) -DCMAKE_CXX_COMPILER=$(CLANG_CXX)
	cmake --build $(CLANG_BUILD) -j$(JOBS)

# The whole suite built with the address and undefined-behaviour sanitizers.
SANITIZE_BUILD ?= build-sanitize
SANITIZER_ENV = ASAN_OPTIONS=abort_on_error=1:detect_stack_use_after_return=1 \
	UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
test-sanitize:
	cmake -S . -B $(SANITIZE_BUILD) $(CMAKE_FLAGS) -DQX200_SANITIZE=ON
	$(SANITIZER_ENV) cmake --build $(SANITIZE_BUILD) -j$(JOBS)
	cd $(SANITIZE_BUILD) && $(SANITIZER_ENV) QT_QPA_PLATFORM=offscreen \
		ctest --output-on-failure -j$(JOBS)

# libFuzzer on the trace rendering and the status decoding; the corpus grows in FUZZ_BUILD.
FUZZ_BUILD ?= build-fuzz
FUZZ_CXX ?= clang++-14
FUZZ_SECONDS ?= 60
fuzz:
	cmake -S fuzz -B $(FUZZ_BUILD) -DCMAKE_CXX_COMPILER=$(FUZZ_CXX) -DCMAKE_BUILD_TYPE=RelWithDebInfo
	cmake --build $(FUZZ_BUILD) -j$(JOBS)
	mkdir -p $(FUZZ_BUILD)/corpus
	$(FUZZ_BUILD)/qx200-fuzz-link -max_total_time=$(FUZZ_SECONDS) -print_final_stats=1 \
		-artifact_prefix=$(FUZZ_BUILD)/ $(FUZZ_BUILD)/corpus fuzz/seeds

# The up arrow held at its fastest repeat against a line the program holds itself.
SOAK_SECONDS ?= 600
soak: build
	SOAK_SECONDS=$(SOAK_SECONDS) QT_QPA_PLATFORM=offscreen $(BUILD)/qx200-soak

# A serial server that asks for a Telnet option as fast as it can and reads nothing: the
# console's memory and processor time stay bounded.
FLOOD_SECONDS ?= 30
flood: build
	FLOOD_SECONDS=$(FLOOD_SECONDS) QT_QPA_PLATFORM=offscreen $(BUILD)/qx200-flood

# The unplug test with more cycles than the suite runs.
UNPLUG_CYCLES ?= 500
unplug: build
	cd $(BUILD) && QX200_UNPLUG_CYCLES=$(UNPLUG_CYCLES) QT_QPA_PLATFORM=offscreen \
		./qx200-tests --gtest_filter='FaultUnplug.*'
