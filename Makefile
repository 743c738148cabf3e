# Single entry point.
#   make test   installs what is missing, checks the formatting, builds the normal, the address
#               sanitizer, the thread sanitizer (no window) and the core-only (no Qt) configuration
#               with warnings as errors, and runs every test of the first two, all but the slow ones of
#               the third and the unit tests of the fourth inside a private network namespace that has
#               only loopback; then the Windows tests under Wine (test-windows).
#   make test-tsan  builds the thread-sanitizer configuration and runs all but its slow tests there.
#   make demo   builds the tool and runs the whole job against the built-in router emulator.
#   make package  builds the Debian package qor-oneclick_<version>_<arch>.deb (Release, in
#               build/package) and copies it here.
#   make format applies .clang-format to every C++ file of the tree.
#   make windows  cross-builds the core, qor-oneclick-cli.exe, qor-router-sim.exe and qor-mkimage.exe for
#               64-bit Windows with MinGW-w64 (build/windows; no window: there is no Qt for Windows here).
#   make test-windows  builds the Windows test programs (build/windows) and runs them under Wine
#               (every label but gui), then the Windows programs against the Linux ones on loopback:
#               check and upgrade --yes both ways; all inside a private network namespace. make test
#               runs it too.
#   make bench  builds the benchmarks in a Release configuration (build/bench) and prints the
#               performance table: each figure beside its reference from the same run (README).
SHELL := /bin/bash
JOBS ?= $(shell nproc)
BUILD_TYPE ?= RelWithDebInfo
GENERATOR := $(shell command -v ninja >/dev/null 2>&1 && echo "-G Ninja")
# A compiler cache makes rebuilds of the several configurations cheap; used when installed.
LAUNCHER := $(shell command -v ccache >/dev/null 2>&1 && echo "-DCMAKE_CXX_COMPILER_LAUNCHER=ccache -DCMAKE_C_COMPILER_LAUNCHER=ccache")

# The formatter's major version is pinned: another version formats the same file differently.
CLANG_FORMAT_MAJOR := 14
CLANG_FORMAT ?= $(shell command -v clang-format-$(CLANG_FORMAT_MAJOR) 2>/dev/null || command -v clang-format 2>/dev/null)

DEB_PACKAGES := cmake g++ make ninja-build pkg-config libgtest-dev libgmock-dev libbenchmark-dev \
                qt6-base-dev qt6-base-dev-tools libgl-dev iproute2 util-linux busybox-static ccache \
                nlohmann-json3-dev gettext qt6-l10n-tools qt6-tools-dev-tools qt6-translations-l10n \
                help2man librsvg2-bin dpkg-dev fakeroot file man-db lintian desktop-file-utils appstream \
                clang-format-$(CLANG_FORMAT_MAJOR) git \
                libsystemd-dev zlib1g-dev dbus-daemon python3-dbus python3-gi python3-jsonschema time

# The Windows cross build: the compiler, the runtime to link statically and Wine to run the result.
# GoogleTest comes as sources (googletest) and is built with the cross compiler for the test programs.
WINDOWS_PACKAGES := mingw-w64 g++-mingw-w64-x86-64-posix libz-mingw-w64-dev wine64 wine googletest

# Every configuration that make test builds treats warnings as errors.
CONFIG_RELEASE := -DCMAKE_BUILD_TYPE=$(BUILD_TYPE) -DQOR_WERROR=ON
CONFIG_ASAN := -DCMAKE_BUILD_TYPE=Debug -DQOR_SANITIZE=ON -DQOR_BUILD_BENCH=OFF -DQOR_WERROR=ON
# ThreadSanitizer over the core, the emulator, the tools and the terminal tool, with optimisation (the
# detector slows every memory access, so an unoptimised build would stretch the timed tests); its
# options and suppressions are compiled into every program (tests/tsan). The window is left out: Qt's
# libraries are not built with the detector, so it cannot see their synchronisation.
CONFIG_TSAN := -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQOR_SANITIZE=thread -DQOR_BUILD_GUI=OFF -DQOR_BUILD_BENCH=OFF -DQOR_WERROR=ON
# The core, the emulator, the tools and the terminal tool without Qt: what a machine without a
# desktop builds.
CONFIG_CORE := -DCMAKE_BUILD_TYPE=$(BUILD_TYPE) -DQOR_BUILD_GUI=OFF -DQOR_BUILD_BENCH=OFF -DQOR_WERROR=ON

# The benchmarks: optimised as a release is, no window (the benchmarks do not use it).
CONFIG_BENCH := -DCMAKE_BUILD_TYPE=Release -DQOR_BUILD_GUI=OFF -DQOR_BUILD_BENCH=ON -DQOR_WERROR=ON
BENCH_PROGRAMS := bench_crc bench_download bench_tcp_stream qor-oneclick-cli qor-router-sim qor-mkimage

.PHONY: all deps deps-windows fuzz build build-release build-asan build-tsan build-core test test-release test-asan \
        test-tsan test-core demo package clean format format-check bench windows build-windows test-windows \
        run-linux-tests run-windows-tests

all: build-release

# Installs the Debian packages named in $(1) that are missing (as root), or names them and fails.
define install_packages
	@missing=""; \
	for p in $(1); do \
	  dpkg-query -W -f='$${Status}' $$p 2>/dev/null | grep -q "install ok installed" || missing="$$missing $$p"; \
	done; \
	if [ -n "$$missing" ]; then \
	  if [ "$$(id -u)" = 0 ]; then \
	    echo "Installing:$$missing"; \
	    export DEBIAN_FRONTEND=noninteractive; \
	    apt-get update -q && apt-get install -y -q --no-install-recommends $$missing; \
	  else \
	    echo "Missing packages:$$missing"; \
	    echo "Install them with:  sudo apt-get install -y$$missing"; \
	    exit 1; \
	  fi; \
	fi
endef

deps:
	$(call install_packages,$(DEB_PACKAGES))

deps-windows:
	@$(MAKE) --no-print-directory deps DEB_PACKAGES="$(WINDOWS_PACKAGES)"

# The core without Qt, the terminal tool, the emulator and the image tool as Windows programs, and
# their test programs (make windows builds the three programs only).
CONFIG_WINDOWS := -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake -DCMAKE_BUILD_TYPE=Release \
                  -DQOR_BUILD_GUI=OFF -DQOR_BUILD_BENCH=OFF -DBUILD_TESTING=ON -DQOR_WERROR=ON
windows: deps-windows
	cmake -S . -B build/windows $(GENERATOR) $(LAUNCHER) $(CONFIG_WINDOWS)
	cmake --build build/windows -j $(JOBS) --target qor-oneclick-cli qor-router-sim qor-mkimage
	@ls -l build/windows/cli/qor-oneclick-cli.exe build/windows/sim/qor-router-sim.exe build/windows/tools/qor-mkimage.exe

build-windows: windows
	cmake --build build/windows -j $(JOBS)

# The Windows tests under Wine (tests/windows/run-tests.sh: one Wine prefix and server for the run,
# the groups left out named with their reasons), then the interoperability test, in one private
# network namespace. Under Wine the emulator-driven runs take longer than on Linux: the time limit
# per test is wider.
WINDOWS_CTEST_ARGS ?= --output-on-failure -j $(JOBS) --timeout 900 -LE gui
test-windows: build-windows build-release
	@$(MAKE) --no-print-directory run-windows-tests

run-windows-tests:
	@if unshare --net true 2>/dev/null; then \
	  echo "Running the Windows tests under Wine in a private network namespace (loopback only)"; \
	  start=$$(date +%s); \
	  QOR_IN_PRIVATE_NETNS=1 unshare --net sh -c 'ip link set lo up && \
	    tests/windows/run-tests.sh build/windows build/release $(WINDOWS_CTEST_ARGS)'; rc=$$?; \
	  echo "Windows tests under Wine: $$(( $$(date +%s) - start )) s"; exit $$rc; \
	else \
	  echo "No private network namespace can be made here: the Windows tests are skipped"; \
	fi

# Configured on every build (quick when nothing changed), so a build folder made before an option
# was added gets it too.
build-release: deps
	cmake -S . -B build/release $(GENERATOR) $(LAUNCHER) $(CONFIG_RELEASE)
	cmake --build build/release -j $(JOBS)

build-asan: deps
	cmake -S . -B build/asan $(GENERATOR) $(LAUNCHER) $(CONFIG_ASAN)
	cmake --build build/asan -j $(JOBS)

build-tsan: deps
	cmake -S . -B build/tsan $(GENERATOR) $(LAUNCHER) $(CONFIG_TSAN)
	cmake --build build/tsan -j $(JOBS)

build-core: deps
	cmake -S . -B build/core $(GENERATOR) $(LAUNCHER) $(CONFIG_CORE)
	cmake --build build/core -j $(JOBS)

build: build-release build-asan build-tsan build-core

# Runs ctest for the given build folders inside a private network namespace (only loopback up), so
# no test can reach a real network: every test of the folders in $(1), the unit tests of those in
# $(2), every test but the slow ones of those in $(3). Where no namespace can be made it says so and
# runs the tests directly; they only ever use loopback, and the namespace tests skip themselves.
# Most tests wait on the scaled clock and the emulator rather than the processor (the thread
# sanitizer's whole run kept the two cores 17% busy), so twice as many run at once as there are cores.
TEST_JOBS ?= $(shell echo $$(( $(JOBS) * 2 )))
CTEST_ARGS ?= --output-on-failure -j $(TEST_JOBS) --timeout 600
define run_ctest
	@cmd=""; \
	for d in $(1); do cmd="$$cmd ctest --test-dir $$d $(CTEST_ARGS) || rc=1;"; done; \
	for d in $(2); do cmd="$$cmd ctest --test-dir $$d $(CTEST_ARGS) -L unit || rc=1;"; done; \
	for d in $(3); do cmd="$$cmd ctest --test-dir $$d $(CTEST_ARGS) -LE slow || rc=1;"; done; \
	script="rc=0; ip link set lo up && $$cmd exit \$$rc"; \
	if unshare --net true 2>/dev/null; then \
	  echo "Running the tests in a private network namespace (loopback only)"; \
	  QOR_IN_PRIVATE_NETNS=1 unshare --net sh -c "$$script"; \
	else \
	  echo "No private network namespace can be made here: running the loopback-only tests directly"; \
	  sh -c "rc=0; $$cmd exit \$$rc"; \
	fi
endef

# The Linux tests, then the Windows ones under Wine; both run even when the first fail.
test: format-check build build-windows
	@rc=0; \
	$(MAKE) --no-print-directory run-linux-tests || rc=1; \
	$(MAKE) --no-print-directory run-windows-tests || rc=1; \
	exit $$rc

run-linux-tests:
	$(call run_ctest,build/asan build/release,build/core,build/tsan)

test-release: build-release
	$(call run_ctest,build/release)

test-asan: build-asan
	$(call run_ctest,build/asan)

test-tsan: build-tsan
	$(call run_ctest,,,build/tsan)

test-core: build-core
	$(call run_ctest,,build/core)

# The benchmarks use loopback only; like the tests they run in a private network namespace where one
# can be made. Not part of make test: figures are not pass/fail.
bench: deps
	cmake -S . -B build/bench $(GENERATOR) $(LAUNCHER) $(CONFIG_BENCH)
	cmake --build build/bench -j $(JOBS) --target $(BENCH_PROGRAMS)
	@script="ip link set lo up && bench/run-table.sh build/bench"; \
	if unshare --net true 2>/dev/null; then \
	  unshare --net sh -c "$$script"; \
	else \
	  echo "No private network namespace can be made here: running the loopback-only benchmarks directly"; \
	  bench/run-table.sh build/bench; \
	fi | tee build/bench/bench-table.txt; exit $${PIPESTATUS[0]}

# The C++ files of the tree: those git knows or would take (tracked, or new and not ignored), or in a
# tree without git every one outside build/.
SOURCES = $(wildcard $(shell git ls-files --cached --others --exclude-standard -- '*.cpp' '*.h' 2>/dev/null || \
                             find . -path ./build -prune -o \( -name '*.cpp' -o -name '*.h' \) -print))

# The formatter, refused unless it is the pinned major version.
define check_clang_format
	@if [ -z "$(CLANG_FORMAT)" ]; then \
	  echo "clang-format $(CLANG_FORMAT_MAJOR) is missing (Debian: clang-format-$(CLANG_FORMAT_MAJOR))"; exit 1; \
	fi; \
	if ! "$(CLANG_FORMAT)" --version | grep -q "version $(CLANG_FORMAT_MAJOR)\."; then \
	  echo "$(CLANG_FORMAT) is not clang-format $(CLANG_FORMAT_MAJOR): $$("$(CLANG_FORMAT)" --version)"; exit 1; \
	fi
endef

# Fails on any difference between a file and its formatted form.
format-check: deps
	$(call check_clang_format)
	"$(CLANG_FORMAT)" --dry-run -Werror $(SOURCES)

# Fuzzing: the fuzz targets built by clang as libFuzzer programs with AddressSanitizer and
# UndefinedBehaviorSanitizer (the whole tree instrumented for coverage) in build/fuzz, then each run
# for FUZZ_SECONDS or FUZZ_RUNS executions (-1: no count), whichever comes first, FUZZ_JOBS side by
# side. Each starts from its seed corpus and the saved inputs of
# mended faults; what it learns stays in build/fuzz/work/<target>, a crashing input lands in
# build/fuzz/findings/<target>/ (mend the fault, then save the input under fuzz/regressions/<target>/).
FUZZ_SECONDS ?= 60
FUZZ_RUNS ?= -1
FUZZ_JOBS ?= 2
FUZZ_PACKAGES := clang-14 libclang-rt-14-dev
FUZZ_TARGETS := fuzz_diag_parse fuzz_discovery_answer fuzz_hdlc_assembly fuzz_hdlc_decode fuzz_telnet_lines \
                fuzz_unit_walk fuzz_version_rule fuzz_router_result fuzz_hostile_text fuzz_image_info
CONFIG_FUZZ := -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_CXX_COMPILER=clang++-14 -DCMAKE_C_COMPILER=clang-14 \
               -DQOR_BUILD_FUZZ=ON -DQOR_SANITIZE=ON -DQOR_BUILD_GUI=OFF -DQOR_BUILD_BENCH=OFF -DBUILD_TESTING=OFF

fuzz: deps
	$(call install_packages,$(FUZZ_PACKAGES))
	cmake -S . -B build/fuzz $(GENERATOR) $(LAUNCHER) $(CONFIG_FUZZ)
	cmake --build build/fuzz -j $(JOBS) --target $(FUZZ_TARGETS)
	@rc=0; printf '%s\n' $(FUZZ_TARGETS) | xargs -P $(FUZZ_JOBS) -I{} sh -c ' \
	  mkdir -p build/fuzz/work/{} build/fuzz/findings/{}; \
	  build/fuzz/fuzz/{} -max_total_time=$(FUZZ_SECONDS) -runs=$(FUZZ_RUNS) -print_final_stats=1 \
	    -artifact_prefix=build/fuzz/findings/{}/ build/fuzz/work/{} fuzz/corpus/{} fuzz/regressions/{} \
	    > build/fuzz/{}.log 2>&1; status=$$?; \
	  echo "{}: $$(grep -E "^#[0-9]+.*(DONE|cov:)" build/fuzz/{}.log | tail -1) exit $$status"; exit $$status' || rc=1; \
	exit $$rc

demo: build-release
	./build/release/cli/qor-oneclick-cli demo

# The package's own Release build (no tests), with Debian's build flags; see cmake/BuildPackage.cmake.
package: deps
	cmake -DSOURCE_DIR=$(CURDIR) -DBINARY_DIR=$(CURDIR)/build/package -DJOBS=$(JOBS) \
	  -DGENERATOR="$(filter-out -G,$(GENERATOR))" -P cmake/BuildPackage.cmake
	cp build/package/qor-oneclick_*.deb .
	@ls -l qor-oneclick_*.deb

format:
	$(call check_clang_format)
	"$(CLANG_FORMAT)" -i $(SOURCES)

clean:
	rm -rf build qor-oneclick_*.deb
