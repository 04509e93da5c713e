# Task runner. ./run.sh and ./test.sh install what is missing and then come here.
BUILD ?= build
JOBS ?= $(shell nproc 2>/dev/null || echo 2)
CMAKE_FLAGS ?= -DCMAKE_BUILD_TYPE=RelWithDebInfo

.PHONY: build test run screenshots bench install format clean

build:
	cmake -S . -B $(BUILD) $(CMAKE_FLAGS)
	cmake --build $(BUILD) -j$(JOBS)

test: build
	cd $(BUILD) && QT_QPA_PLATFORM=offscreen ctest --output-on-failure -j$(JOBS)

run: build
	scripts/run-with-simulator.sh $(BUILD)

screenshots: build
	QT_QPA_PLATFORM=offscreen $(BUILD)/qx200-screenshots $(BUILD)/screenshots

bench: build
	QT_QPA_PLATFORM=offscreen $(BUILD)/qx200-bench $(BUILD)/bench.json

install: build
	cmake --install $(BUILD)

format:
	clang-format -i $$(git ls-files '*.cpp' '*.h')

clean:
	rm -rf $(BUILD)
