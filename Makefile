# The two commands a newcomer needs: `make demo` and `make test`.
# Each target installs what is missing (as root), configures, builds and runs.

BUILD      ?= build
BUILD_ASAN ?= build-asan
JOBS       ?= $(shell nproc 2>/dev/null || echo 2)

.PHONY: all deps test-deps build test test-asan demo bench endurance clean

all: build

# What the build and the demo need; the tests' own extras (a real HTTP
# proxy) are installed by the test targets only.
deps:
	@scripts/install-deps.sh

test-deps:
	@scripts/install-deps.sh --test

$(BUILD)/build.ninja: | deps
	cmake -S . -B $(BUILD) -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo

build: deps $(BUILD)/build.ninja
	cmake --build $(BUILD) -j $(JOBS)

test: test-deps build
	cd $(BUILD) && ctest --output-on-failure -j $(JOBS)

$(BUILD_ASAN)/build.ninja: | deps
	cmake -S . -B $(BUILD_ASAN) -G Ninja -DCMAKE_BUILD_TYPE=Debug -DQRV_SANITIZE=ON

test-asan: test-deps $(BUILD_ASAN)/build.ninja
	cmake --build $(BUILD_ASAN) -j $(JOBS)
	cd $(BUILD_ASAN) && ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
	  ctest --output-on-failure -j $(JOBS)

bench: build
	@for b in $(BUILD)/bench/*; do [ -x "$$b" ] && "$$b"; done

demo: build
	testbed/demo/run-demo --build $(BUILD)

# `make endurance` runs the built client for DAYS simulated days (default 90)
# against the testbed under a fault schedule drawn from SEED, its time sped
# up RATE times with libfaketime; FAULTS multiplies the fault rates
# (testbed/endurance/README.md). The run
# folder, with the summary and the plot, is under $(BUILD)/endurance-run/.
DAYS ?= 90
SEED ?= 1
RATE ?= 3600
FAULTS ?= 1
endurance: build
	/usr/bin/python3 testbed/endurance/endurance.py --build $(BUILD) --days $(DAYS) \
	  --seed $(SEED) --rate $(RATE) --faults $(FAULTS)

clean:
	rm -rf $(BUILD) $(BUILD_ASAN) $(BUILD_DEB) $(BUILD_DEB_TESTBED) $(BUILD_DEB_TESTBED)-upgrade \
	  $(BUILD_DEB)-arm64 $(BUILD_DEB)-armhf $(BUILD_DEB_TESTBED)-arm64 $(BUILD_DEB_TESTBED)-armhf

# ---- Installing and packaging ----------------------------------------------
# `make install` installs the client as `make build` built it, under PREFIX
# and nowhere else (and under DESTDIR, when set): the program, its man page,
# and the systemd service, slice, sysusers.d and tmpfiles.d files in
# PREFIX/lib, which systemd reads for /usr/local too. `make deb` makes the
# Debian packages from debian/ with dpkg-buildpackage (the client alone,
# built with every hardening feature of dpkg-buildflags) into BUILD_DEB and
# runs lintian on them. It refuses a package with the testbed's demo key
# and servers; DEB_OPTIONS passes the deployment's -D settings
# (QRV_PUBLIC_KEY_FILE, QRV_ASSIGN_HOST_PRIMARY, ...). `make test-package`
# makes a package for the testbed and tries it as a volunteer would, in a
# booted systemd container (packaging/tests/try-as-volunteer; root only).
PREFIX             ?= /usr/local
# `make deb ARCH=arm64` cross-builds (see the section on ARM boards below).
# ARCH counts only when it is given on make's command line: test-cross
# gives it a default list, and a shell may export an ARCH of its own,
# neither of which may turn `make deb` into a cross build.
# make-deb.sh cross-builds when ARCH is in its environment, so no recipe
# inherits ARCH: the ones that cross-build pass it explicitly.
DEB_ARCH           := $(if $(filter command line,$(origin ARCH)),$(strip $(ARCH)))
unexport ARCH
BUILD_DEB          ?= build-deb
BUILD_DEB_TESTBED  ?= build-deb-testbed
DEB_OPTIONS        ?=

.PHONY: install deb test-package package-deps

install: build
	cmake --install $(BUILD) --prefix $(PREFIX)

package-deps:
	@scripts/install-deps.sh --package

deb: package-deps $(if $(DEB_ARCH),cross-package-deps)
	ARCH='$(DEB_ARCH)' scripts/make-deb.sh $(BUILD_DEB)$(if $(DEB_ARCH),-$(DEB_ARCH)) $(JOBS) $(DEB_OPTIONS)

test-package: package-deps build
	scripts/make-deb.sh $(BUILD_DEB_TESTBED) $(JOBS) -DQRV_PACKAGE_FOR_TESTBED=ON
	QRV_DEB_VERSION_SUFFIX=+test1 scripts/make-deb.sh $(BUILD_DEB_TESTBED)-upgrade $(JOBS) -DQRV_PACKAGE_FOR_TESTBED=ON
	packaging/tests/try-as-volunteer --deb-dir $(BUILD_DEB_TESTBED) \
	  --upgrade-deb-dir $(BUILD_DEB_TESTBED)-upgrade --build $(BUILD)

# ---- Hostile input and concurrency: fuzzing and ThreadSanitizer ------------
# `make fuzz` runs every libFuzzer target of fuzz/ for FUZZ_SECONDS each and
# fails on any finding; `make fuzz-smoke` is the short pass; `make
# fuzz-coverage` reports the source coverage the corpora reach. `make
# test-tsan` runs the whole suite under ThreadSanitizer. All build with clang
# in their own build directories.
BUILD_FUZZ     ?= build-fuzz
BUILD_FUZZ_COV ?= build-fuzz-cov
BUILD_TSAN     ?= build-tsan
FUZZ_SECONDS   ?= 60

.PHONY: clang-deps fuzz-build fuzz fuzz-smoke fuzz-coverage test-tsan

clang-deps: deps
	@fuzz/ensure-clang.sh

$(BUILD_FUZZ)/build.ninja: | clang-deps
	cmake -S . -B $(BUILD_FUZZ) -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
	  -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ -DQRV_FUZZ=ON

fuzz-build: clang-deps $(BUILD_FUZZ)/build.ninja
	cmake --build $(BUILD_FUZZ) --target fuzz_all -j $(JOBS)

fuzz: fuzz-build
	fuzz/run.sh $(BUILD_FUZZ) $(FUZZ_SECONDS)

fuzz-smoke:
	$(MAKE) fuzz FUZZ_SECONDS=10

# Line and branch coverage of the library sources that the corpora of the
# last `make fuzz` reach (a separate build without sanitizers).
$(BUILD_FUZZ_COV)/build.ninja: | clang-deps
	cmake -S . -B $(BUILD_FUZZ_COV) -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
	  -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ -DQRV_FUZZ=ON -DQRV_FUZZ_COVERAGE=ON

fuzz-coverage: clang-deps $(BUILD_FUZZ_COV)/build.ninja
	@scripts/install-deps.sh llvm-cov:llvm
	cmake --build $(BUILD_FUZZ_COV) --target fuzz_all -j $(JOBS)
	fuzz/coverage.sh $(BUILD_FUZZ_COV) $(BUILD_FUZZ)

$(BUILD_TSAN)/build.ninja: | clang-deps
	cmake -S . -B $(BUILD_TSAN) -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
	  -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ \
	  -DCMAKE_C_FLAGS=-fsanitize=thread -DCMAKE_CXX_FLAGS=-fsanitize=thread \
	  -DCMAKE_EXE_LINKER_FLAGS=-fsanitize=thread -DQRV_HARDENING=OFF

test-tsan: test-deps clang-deps $(BUILD_TSAN)/build.ninja
	cmake --build $(BUILD_TSAN) -j $(JOBS)
	scripts/test-tsan.sh $(BUILD_TSAN) $(JOBS)
# ----------------------------------------------------------------------------

# ---- Other processors under qemu-user ---------------------------------------
# `make test-cross` cross-builds the client, its cores and its tests for
# big-endian s390x, arm64 and 32-bit armhf (ARCH picks some of them) and runs
# the unit tests, the cross-machine file test and the testbed's end-to-end
# tests under qemu-user; `make test-cross-unit` runs the unit tests only.
# Everything an architecture needs stays in build-cross-ARCH/.
ARCH ?= s390x arm64 armhf

.PHONY: test-cross test-cross-unit

test-cross: deps
	scripts/test-cross.sh --jobs $(JOBS) $(ARCH)

test-cross-unit: deps
	scripts/test-cross.sh --unit --jobs $(JOBS) $(ARCH)
# ----------------------------------------------------------------------------

# ---- Packages for ARM boards ------------------------------------------------
# `make deb ARCH=arm64` (or armhf) cross-builds the package for that
# processor with dpkg-buildpackage -a into $(BUILD_DEB)-ARCH/, against the
# target's libraries installed as multiarch packages (scripts/install-deps.sh
# --arch). `make test-package-cross ARCH=...` makes such a package for the
# testbed and runs its client under qemu-user until a unit is accepted
# (packaging/tests/run-cross-package; root only). ARCH=... given to `make
# deb` or `make test-package-cross` on the command line must name one processor
# (see DEB_ARCH above).

.PHONY: cross-package-deps test-package-cross

cross-package-deps:
	@case '$(DEB_ARCH)' in arm64|armhf) ;; \
	  *) echo "make: give ARCH=arm64 or ARCH=armhf (one processor) on the command line, not '$(DEB_ARCH)'" >&2; exit 2 ;; esac
	@scripts/install-deps.sh --arch $(DEB_ARCH)

test-package-cross: package-deps cross-package-deps build
	ARCH='$(DEB_ARCH)' scripts/make-deb.sh $(BUILD_DEB_TESTBED)-$(DEB_ARCH) $(JOBS) -DQRV_PACKAGE_FOR_TESTBED=ON
	packaging/tests/run-cross-package --arch $(DEB_ARCH) --deb-dir $(BUILD_DEB_TESTBED)-$(DEB_ARCH) --build $(BUILD)
# ----------------------------------------------------------------------------
