# Entry points: `make run` builds and writes the inventory to standard output, `make test` runs every
# test through CTest. Build output goes to standard error so that `make run > inventory.xml` works.
BUILD_DIR ?= build
BUILD_TYPE ?= Release
CMAKE_FLAGS ?=
JOBS ?= $(shell nproc 2>/dev/null || echo 2)
# The sub-makes that CMake runs would announce every directory they enter and leave.
MAKEFLAGS += --no-print-directory

# What the tests need beyond what the tool needs (scripts/install-deps checks the tool's own).
TEST_PACKAGES = pkg-config libplist-dev libgtest-dev libgmock-dev libxml2-utils iproute2 valgrind

FUZZ_SECONDS ?= 60
FUZZ_PACKAGES = clang libclang-rt-14-dev

# The arm64 (aarch64) tool, cross-built with its whole test suite, which runs under qemu-user.
ARM64_BUILD_DIR ?= build-arm64
ARM64_PACKAGES = g++-aarch64-linux-gnu qemu-user-static libstdc++6:arm64 libgtest-dev:arm64 \
	libgmock-dev:arm64 libplist-dev:arm64

# The macOS tool: one universal executable (x86_64 and arm64, macOS 11.0 and later), its tarball and
# its installer package, cross-built with the pinned Zig compiler from the npm registry
# (scripts/macos-zig). MACOS_ID is the package's identifier and the LaunchDaemon's label: replace it
# with the organisation's reverse domain (make macos MACOS_ID=org.example.machineinfo).
MACOS_BUILD_DIR ?= build-macos
MACOS_ID ?= com.example.machineinfo
# Where the MDM fetches the installer package from: the URL that its manifest
# (build-macos/machineinfo-VERSION.pkg.plist, for InstallEnterpriseApplication) names; https.
MACOS_PKG_URL ?=
export MACOS_PKG_URL
# Developer ID signing (scripts/macos-sign): the Application and Installer identities as PKCS#12 files
# exported from a Mac's Keychain, their password in the file MACOS_SIGN_PASSWORD_FILE names or in the
# environment's MACOS_SIGN_PASSWORD (never on this command line), and an RFC 3161 time-stamp server
# (http://timestamp.apple.com/ts01 for notarization). Without them the release is signed ad hoc.
MACOS_SIGN_APPLICATION ?=
MACOS_SIGN_INSTALLER ?=
MACOS_SIGN_PASSWORD_FILE ?=
MACOS_TIMESTAMP_URL ?=
export MACOS_SIGN_APPLICATION MACOS_SIGN_INSTALLER MACOS_SIGN_PASSWORD_FILE MACOS_TIMESTAMP_URL
MACOS_SIGN_PACKAGES = python3-cryptography python3-asn1crypto
MACOS_PACKAGES = llvm tar gzip python3 \
	$(if $(MACOS_SIGN_APPLICATION)$(MACOS_SIGN_INSTALLER),$(MACOS_SIGN_PACKAGES))
# The package's cross-readers: 7-Zip, GNU cpio and npm's lsbom (fetched pinned, run by Node.js); the
# signing checks' OpenSSL.
MACOS_TEST_PACKAGES = python3 python3-macholib python3-unicorn 7zip cpio nodejs openssl $(MACOS_SIGN_PACKAGES)

.PHONY: all deps tool-deps configure tool build run test test-sanitize test-fleet fuzz bench package format clean \
	build-arm64 test-arm64 macos test-macos mutation coverage

all: build

tool-deps:
	@./scripts/install-deps

deps:
	@./scripts/install-deps $(TEST_PACKAGES)

configure: deps
	@cmake -S . -B $(BUILD_DIR) -DCMAKE_BUILD_TYPE=$(BUILD_TYPE) -DMACHINEINFO_TESTS=ON $(CMAKE_FLAGS) >&2

build: configure
	@cmake --build $(BUILD_DIR) -j $(JOBS) >&2

# The tool alone: no test package and no test is built. A build that `make test` configured keeps
# its tests configured (their packages are there), but only the tool is built.
tool: tool-deps
	@cmake -S . -B $(BUILD_DIR) -DCMAKE_BUILD_TYPE=$(BUILD_TYPE) \
		$(if $(wildcard $(BUILD_DIR)/CMakeCache.txt),,-DMACHINEINFO_TESTS=OFF) $(CMAKE_FLAGS) >&2
	@cmake --build $(BUILD_DIR) -j $(JOBS) --target machineinfo >&2

run: tool
	@$(BUILD_DIR)/machineinfo -

# CTest's status is kept; the summary after it names each skipped test and why it was skipped.
CTEST = ctest --output-on-failure -j $(JOBS); status=$$?; cd $(CURDIR) && ./scripts/test-summary

test: build
	@cd $(BUILD_DIR) && $(CTEST) $(BUILD_DIR); exit $$status

# The host's tool is the peer whose documents the arm64 tool's must equal on the same machine trees.
build-arm64: build
	@./scripts/install-deps $(ARM64_PACKAGES)
	@cmake -S . -B $(ARM64_BUILD_DIR) -DCMAKE_TOOLCHAIN_FILE=$(CURDIR)/cmake/aarch64-linux-gnu.cmake \
		-DCMAKE_BUILD_TYPE=$(BUILD_TYPE) -DMACHINEINFO_PEER_BINARY=$(CURDIR)/$(BUILD_DIR)/machineinfo >&2
	@cmake --build $(ARM64_BUILD_DIR) -j $(JOBS) >&2

# The tests start arm64 programs (the tool, probes) as any program: through binfmt_misc and qemu.
test-arm64: build-arm64
	@./scripts/qemu-binfmt aarch64
	@cd $(ARM64_BUILD_DIR) && $(CTEST) $(ARM64_BUILD_DIR); exit $$status

test-sanitize: deps
	@cmake -S . -B $(BUILD_DIR)-sanitize -DCMAKE_BUILD_TYPE=RelWithDebInfo -DMACHINEINFO_SANITIZE=ON >&2
	@cmake --build $(BUILD_DIR)-sanitize -j $(JOBS) >&2
	@cd $(BUILD_DIR)-sanitize && $(CTEST) $(BUILD_DIR)-sanitize; exit $$status

macos:
	@./scripts/install-deps $(MACOS_PACKAGES)
	@./scripts/macos-release $(MACOS_BUILD_DIR) $(BUILD_TYPE) $(MACOS_ID) >&2

# The release's files checked as a Mac would take them: slices, load commands, imports, signature,
# sizes, the tarball's contents, the installer package, their reproducibility, both slices run under
# CPU emulation against the Linux build's documents (its tests/mac_peer), and the Zig package's checks.
test-macos: macos build
	@./scripts/install-deps $(MACOS_TEST_PACKAGES)
	@./tests/macos/run $(MACOS_BUILD_DIR) $(MACOS_ID) $(CURDIR)/$(BUILD_DIR)/tests/mac_peer

# The Ansible fleet playbook against local hosts of two Linux architectures, a Mac and one without an
# executable (kept out of `make test`: it needs ansible-core).
test-fleet: build build-arm64 macos
	@./scripts/install-deps ansible-core xsltproc
	@./scripts/qemu-binfmt aarch64
	@./tests/fleet/run $(BUILD_DIR) $(ARM64_BUILD_DIR) $(MACOS_BUILD_DIR)

fuzz: deps
	@./scripts/install-deps $(FUZZ_PACKAGES)
	@CC=clang CXX=clang++ cmake -S . -B $(BUILD_DIR)-fuzz -DCMAKE_BUILD_TYPE=RelWithDebInfo \
		-DMACHINEINFO_FUZZ=ON -DMACHINEINFO_TESTS=OFF >&2
	@cmake --build $(BUILD_DIR)-fuzz -j $(JOBS) >&2
	@./scripts/run-fuzzers $(BUILD_DIR)-fuzz $(FUZZ_SECONDS)

bench: build
	@./bench/run $(BUILD_DIR)

# Line and branch coverage of the product by the suite as CI runs it (gcovr): each product file's
# figures, the stand-in's apart, every untaken branch that tests/coverage-exceptions.txt does not list,
# and an HTML report in $(BUILD_DIR)-coverage/coverage/index.html (scripts/coverage).
coverage: deps
	@./scripts/install-deps gcovr
	@cmake -S . -B $(BUILD_DIR)-coverage -DCMAKE_BUILD_TYPE=Debug -DMACHINEINFO_COVERAGE=ON >&2
	@cmake --build $(BUILD_DIR)-coverage -j $(JOBS) >&2
	@find $(BUILD_DIR)-coverage -name '*.gcda' -delete
	@cd $(BUILD_DIR)-coverage && ctest --output-on-failure -j $(JOBS) >&2; status=$$?; \
		cd $(CURDIR) && ./scripts/coverage $(BUILD_DIR)-coverage && exit $$status

# The test of the tests: single-line faults in the product sources, each built and run through the
# suite in a scratch copy of the tree (MUTATION_N, MUTATION_SEED, MUTATION_FILES; scripts/mutation).
mutation: deps
	@./scripts/mutation

# A Debian package, an RPM and a tarball for each architecture; lintian must find nothing to report
# on the Debian ones.
package: build build-arm64
	@./scripts/install-deps dpkg-dev file rpm lintian
	@for dir in $(BUILD_DIR) $(ARM64_BUILD_DIR); do \
		(cd $$dir && cpack >&2) && lintian --fail-on error,warning $$dir/machineinfo_*.deb >&2 || exit 1; \
	done
	@ls -1 $(foreach dir,$(BUILD_DIR) $(ARM64_BUILD_DIR),$(CURDIR)/$(dir)/machineinfo*.deb \
		$(CURDIR)/$(dir)/machineinfo*.rpm $(CURDIR)/$(dir)/machineinfo-*.tar.gz)

format:
	@git ls-files '*.cpp' '*.h' | xargs clang-format -i

clean:
	@rm -rf $(BUILD_DIR) $(ARM64_BUILD_DIR) $(MACOS_BUILD_DIR)
