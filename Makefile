# The two set-up commands of the README, plus the benchmarks.
#   make test   install what is missing, build, run every test
#   make demo   install what is missing, build, print a sample job
#   make bench  build and run the benchmarks
#   make fuzz   run the fuzz targets (FUZZ_SECONDS each, default 60)
#   make deb    the Debian packages, into BUILD, checked by lintian
#   make install / make uninstall  (PREFIX, DESTDIR honoured)
BUILD ?= build
JOBS  ?= $(shell nproc 2>/dev/null || echo 2)
CMAKE_FLAGS ?=

PREFIX ?= /usr/local
DESTDIR ?=

FUZZ_SECONDS ?= 60

.PHONY: all deps configure build test demo bench fuzz deb install uninstall clean

all: build

deps:
	@./scripts/install-deps.sh

configure: deps
	cmake -S . -B $(BUILD) $(CMAKE_FLAGS)

build: configure
	cmake --build $(BUILD) -j $(JOBS)

test: build
	cd $(BUILD) && ctest --output-on-failure -j $(JOBS)

# Builds only what the demo runs (the test programs are not needed for it).
demo: configure
	cmake --build $(BUILD) -j $(JOBS) --target rasterfilter prndecode ppds tesvel-printer-app jobwrapper
	./scripts/demo.sh $(BUILD)

bench: build
	./scripts/bench.sh $(BUILD)

# Builds the filters, prndecode, the Printer Application and the unit tests
# for arm64 in BUILD_ARM64 (Debian's cross toolchain, installed when missing)
# and runs them under qemu-user, with one whole job per printer dialect
# compared byte for byte with the native build's.
BUILD_ARM64 ?= build-arm64
.PHONY: cross-arm64
cross-arm64: configure
	./scripts/cross-arm64.sh $(BUILD) $(BUILD_ARM64)

# Runs every fuzz target FUZZ_SECONDS seconds (clang, libFuzzer) and
# prints executions, crashes, timeouts, out-of-memory, corpus and coverage.
fuzz:
	@./scripts/install-deps.sh fuzz
	./scripts/fuzz.sh $(FUZZ_SECONDS)

# Builds printer-driver-tesvel and tesvel-printer-app with dpkg-buildpackage
# from a copy of the tree in BUILD/deb (the tree itself is never cleaned),
# leaves the .deb files in BUILD and runs lintian on them.  Installs the
# packaging tools when they are missing.
deb:
	@./scripts/install-deps.sh deb
	./scripts/deb.sh $(BUILD) $(JOBS)

# Installs the filters where CUPS runs them, prndecode under PREFIX, the
# PPDs and the udev rule; DESTDIR stages the install elsewhere.
install: build
	DESTDIR=$(DESTDIR) cmake --install $(BUILD) --prefix $(PREFIX)

uninstall:
	DESTDIR=$(DESTDIR) cmake --build $(BUILD) --target uninstall

clean:
	rm -rf $(BUILD) demo-out
