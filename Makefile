# Single entry point.
#   make test   installs what is missing, builds the normal and the sanitizer configuration and runs
#               every test inside a private network namespace that has only loopback.
#   make demo   builds the tool and runs the whole job against the built-in router emulator.
#   make package  builds the Debian package qor-oneclick_<version>_<arch>.deb (Release, in
#               build/package) and copies it here.
SHELL := /bin/bash
JOBS ?= $(shell nproc)
BUILD_TYPE ?= RelWithDebInfo
GENERATOR := $(shell command -v ninja >/dev/null 2>&1 && echo "-G Ninja")
# A compiler cache makes rebuilds of the several configurations cheap; used when installed.
LAUNCHER := $(shell command -v ccache >/dev/null 2>&1 && echo "-DCMAKE_CXX_COMPILER_LAUNCHER=ccache -DCMAKE_C_COMPILER_LAUNCHER=ccache")

DEB_PACKAGES := cmake g++ make ninja-build pkg-config libgtest-dev libgmock-dev libbenchmark-dev \
                qt6-base-dev qt6-base-dev-tools libgl-dev iproute2 util-linux busybox-static ccache \
                nlohmann-json3-dev gettext qt6-l10n-tools qt6-tools-dev-tools qt6-translations-l10n \
                help2man librsvg2-bin dpkg-dev fakeroot file man-db lintian desktop-file-utils appstream

.PHONY: all deps build build-release build-asan test test-release test-asan demo package clean format

all: build-release

deps:
	@missing=""; \
	for p in $(DEB_PACKAGES); do \
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

build/release/CMakeCache.txt:
	cmake -S . -B build/release $(GENERATOR) $(LAUNCHER) -DCMAKE_BUILD_TYPE=$(BUILD_TYPE)

build/asan/CMakeCache.txt:
	cmake -S . -B build/asan $(GENERATOR) $(LAUNCHER) -DCMAKE_BUILD_TYPE=Debug -DQOR_SANITIZE=ON -DQOR_BUILD_BENCH=OFF

build-release: deps build/release/CMakeCache.txt
	cmake --build build/release -j $(JOBS)

build-asan: deps build/asan/CMakeCache.txt
	cmake --build build/asan -j $(JOBS)

build: build-release build-asan

# Runs ctest for the given build folders inside a private network namespace (only loopback up), so
# no test can reach a real network. Where no namespace can be made it says so and runs the tests
# directly; they only ever use loopback, and the namespace tests skip themselves.
CTEST_ARGS ?= --output-on-failure -j $(JOBS) --timeout 600
define run_ctest
	@dirs="$(1)"; \
	cmd=""; for d in $$dirs; do cmd="$$cmd ctest --test-dir $$d $(CTEST_ARGS) || rc=1;"; done; \
	script="rc=0; ip link set lo up && $$cmd exit \$$rc"; \
	if unshare --net true 2>/dev/null; then \
	  echo "Running the tests in a private network namespace (loopback only)"; \
	  QOR_IN_PRIVATE_NETNS=1 unshare --net sh -c "$$script"; \
	else \
	  echo "No private network namespace can be made here: running the loopback-only tests directly"; \
	  sh -c "rc=0; $$cmd exit \$$rc"; \
	fi
endef

test: build
	$(call run_ctest,build/asan build/release)

test-release: build-release
	$(call run_ctest,build/release)

test-asan: build-asan
	$(call run_ctest,build/asan)

demo: build-release
	./build/release/cli/qor-oneclick-cli demo

# The package's own Release build (no tests), with Debian's build flags; see cmake/BuildPackage.cmake.
package: deps
	cmake -DSOURCE_DIR=$(CURDIR) -DBINARY_DIR=$(CURDIR)/build/package -DJOBS=$(JOBS) \
	  -DGENERATOR="$(filter-out -G,$(GENERATOR))" -P cmake/BuildPackage.cmake
	cp build/package/qor-oneclick_*.deb .
	@ls -l qor-oneclick_*.deb

format:
	cmake --build build/release --target format

clean:
	rm -rf build qor-oneclick_*.deb
