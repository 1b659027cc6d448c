# Thin wrapper over CMake: `make run` builds and starts the program, `make test` builds and runs the tests.
BUILD ?= build
TEST_BUILD ?= build-test
PACKAGE_BUILD ?= build-package
JOBS ?= $(shell nproc)
CMAKE_FLAGS ?=

.PHONY: run test fuzz release-check deps build build-test bench package install clean

deps:
	@bash scripts/deps.sh

build: deps
	@cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo $(CMAKE_FLAGS) >/dev/null
	@cmake --build $(BUILD) -j $(JOBS)

run: build
	@$(BUILD)/quenfold

build-test: deps
	@cmake -S . -B $(TEST_BUILD) -DCMAKE_BUILD_TYPE=Debug -DQUENFOLD_SANITIZE=ON -DQUENFOLD_WERROR=ON $(CMAKE_FLAGS) >/dev/null
	@cmake --build $(TEST_BUILD) -j $(JOBS)

test: build-test
	@cd $(TEST_BUILD) && QT_QPA_PLATFORM=offscreen ctest --output-on-failure

# The programs as released (-O3), warnings as errors: GCC warns of some things only when optimising.
release-check: deps
	@cmake -S . -B build-release -DCMAKE_BUILD_TYPE=Release -DQUENFOLD_WERROR=ON $(CMAKE_FLAGS) >/dev/null
	@cmake --build build-release -j $(JOBS) --target quenfold quenfold-cli

# Every format reader under libFuzzer, FUZZ_SECONDS each, seeded from the corpus of the test build.
FUZZ_SECONDS ?= 30
fuzz: build-test
	@bash scripts/fuzz.sh $(FUZZ_SECONDS) $(TEST_BUILD)

bench: build
	@$(BUILD)/quenfold-bench

# A Debian package of the release build (quenfold_<version>_<arch>.deb in $(PACKAGE_BUILD)): the
# build of `make build` without the tests and benchmarks, so it compiles only what it installs.
package: deps
	@cmake -S . -B $(PACKAGE_BUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQUENFOLD_TESTS=OFF $(CMAKE_FLAGS) >/dev/null
	@cmake --build $(PACKAGE_BUILD) -j $(JOBS)
	@cd $(PACKAGE_BUILD) && cpack

# Installs the release build under PREFIX (default /usr/local).
PREFIX ?= /usr/local
install: build
	@cmake --install $(BUILD) --prefix $(PREFIX)

clean:
	rm -rf $(BUILD) $(TEST_BUILD) $(PACKAGE_BUILD)
