# Entry points: `make run` builds and writes the inventory to standard output, `make test` runs every
# test through CTest. Build output goes to standard error so that `make run > inventory.xml` works.
BUILD_DIR ?= build
BUILD_TYPE ?= Release
CMAKE_FLAGS ?=
JOBS ?= $(shell nproc 2>/dev/null || echo 2)

FUZZ_SECONDS ?= 60
FUZZ_PACKAGES = clang libclang-rt-14-dev

.PHONY: all deps configure build run test test-sanitize test-fleet fuzz bench package format clean

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

test-sanitize: deps
	@cmake -S . -B $(BUILD_DIR)-sanitize -DCMAKE_BUILD_TYPE=RelWithDebInfo -DMACHINEINFO_SANITIZE=ON >&2
	@cmake --build $(BUILD_DIR)-sanitize -j $(JOBS) >&2
	@cd $(BUILD_DIR)-sanitize && ctest --output-on-failure -j $(JOBS)

# The Ansible fleet playbook against two local hosts (kept out of `make test`: it needs ansible-core).
test-fleet: build
	@./scripts/install-deps ansible-core xsltproc
	@./tests/fleet/run $(BUILD_DIR)

fuzz: deps
	@./scripts/install-deps $(FUZZ_PACKAGES)
	@CC=clang CXX=clang++ cmake -S . -B $(BUILD_DIR)-fuzz -DCMAKE_BUILD_TYPE=RelWithDebInfo \
		-DMACHINEINFO_FUZZ=ON -DMACHINEINFO_TESTS=OFF >&2
	@cmake --build $(BUILD_DIR)-fuzz -j $(JOBS) >&2
	@./scripts/run-fuzzers $(BUILD_DIR)-fuzz $(FUZZ_SECONDS)

bench: build
	@./bench/run $(BUILD_DIR)

# The Debian package, an RPM and a tarball; lintian must find nothing to report on the Debian one.
package: build
	@./scripts/install-deps dpkg-dev file rpm lintian
	@cd $(BUILD_DIR) && cpack >&2
	@lintian --fail-on error,warning $(BUILD_DIR)/machineinfo_*.deb >&2
	@ls -1 $(CURDIR)/$(BUILD_DIR)/machineinfo*.deb $(CURDIR)/$(BUILD_DIR)/machineinfo*.rpm \
		$(CURDIR)/$(BUILD_DIR)/machineinfo-*.tar.gz

format:
	@git ls-files '*.cpp' '*.h' | xargs clang-format -i

clean:
	@rm -rf $(BUILD_DIR)
