# Entry points: `make run` builds and writes the inventory to standard output, `make test` runs every
# test through CTest. Build output goes to standard error so that `make run > inventory.xml` works.
BUILD_DIR ?= build
BUILD_TYPE ?= Release
CMAKE_FLAGS ?=
JOBS ?= $(shell nproc 2>/dev/null || echo 2)

.PHONY: all deps configure build run test format clean

all: build

deps:
	@./scripts/install-deps

configure: deps
	@cmake -S . -B $(BUILD_DIR) -DCMAKE_BUILD_TYPE=$(BUILD_TYPE) $(CMAKE_FLAGS) >&2

build: configure
	@cmake --build $(BUILD_DIR) -j $(JOBS) >&2

run: build
	@$(BUILD_DIR)/machineinfo -

test: build
	@cd $(BUILD_DIR) && ctest --output-on-failure -j $(JOBS)

format:
	@git ls-files '*.cpp' '*.h' | xargs clang-format -i

clean:
	@rm -rf $(BUILD_DIR)
