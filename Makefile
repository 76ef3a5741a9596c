# The project's entry points. `make run` and `make test` do all the set-up on a fresh
# Debian 12 machine (they install what is missing first).
BUILD ?= build
GENERATOR ?= Ninja
CMAKE_FLAGS ?=

.PHONY: all deps configure build run test bench stress format clean

all: build

deps:
	./scripts/install-deps.sh

configure: deps
	cmake -S . -B $(BUILD) -G $(GENERATOR) -DCMAKE_BUILD_TYPE=RelWithDebInfo $(CMAKE_FLAGS)

build: configure
	cmake --build $(BUILD)

run: build
	./scripts/run.sh $(BUILD)/src/vantrel

test: build
	./scripts/run-tests.sh $(BUILD)

format:
	git ls-files '*.cpp' '*.h' | xargs clang-format -i

clean:
	rm -rf $(BUILD)
