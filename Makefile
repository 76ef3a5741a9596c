# The project's entry points. `make run` and `make test` do all the set-up on a fresh
# Debian 12 machine (they install what is missing first).
BUILD ?= build
WIN_BUILD ?= build-win
GENERATOR ?= Ninja
CMAKE_FLAGS ?=

.PHONY: all deps configure build windows run test test-browsers bench stress format clean

all: build

deps:
	./scripts/install-deps.sh

configure: deps
	cmake -S . -B $(BUILD) -G $(GENERATOR) -DCMAKE_BUILD_TYPE=RelWithDebInfo $(CMAKE_FLAGS)

build: configure
	cmake --build $(BUILD)

# The Windows program and its tests, cross-compiled with MinGW-w64.
windows: deps
	cmake -S . -B $(WIN_BUILD) -G $(GENERATOR) -DCMAKE_BUILD_TYPE=Release \
	  -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake $(CMAKE_FLAGS)
	cmake --build $(WIN_BUILD)

# Only the program and its privileged helper: starting it needs neither tests nor benchmarks.
run: configure
	cmake --build $(BUILD) --target vantrel vantrel-hosts-helper vantrel-upgrade-helper
	./scripts/run.sh $(BUILD)/src/vantrel

# The Linux tests, then the Windows tests under Wine; fails if either fails.
test: build windows
	rc=0; ./scripts/run-tests.sh $(BUILD) || rc=1; ./scripts/run-tests.sh $(WIN_BUILD) || rc=1; exit $$rc

# Firefox ESR and Chromium against a fake ad server, in private namespaces (root; CI runs it).
test-browsers: build
	./scripts/install-deps.sh browsers
	./tests/linux/e2e/browsers_e2e.sh $(BUILD)

# Release build in its own folder, then one table of Vantrel against the machine's own tools.
bench: deps
	cmake -S . -B build-bench -G $(GENERATOR) -DCMAKE_BUILD_TYPE=Release -DVANTREL_BUILD_TESTS=OFF $(CMAKE_FLAGS)
	cmake --build build-bench --target vantrel_bench
	./build-bench/bench/vantrel_bench

# Kills, concurrent writers, injected faults, fuzzing and hostile servers, with CI's sizes.
FUZZ_SECONDS ?= 60
stress: deps
	FUZZ_SECONDS=$(FUZZ_SECONDS) ./scripts/stress.sh

format:
	git ls-files '*.cpp' '*.h' | xargs clang-format -i

clean:
	rm -rf $(BUILD) $(WIN_BUILD)
