# The two set-up commands of the README, plus the benchmarks.
#   make test   install what is missing, build, run every test
#   make demo   install what is missing, build, print a sample job
#   make bench  build and run the benchmarks
#   make fuzz   run the fuzz targets (FUZZ_SECONDS each, default 60)
#   make install / make uninstall  (PREFIX, DESTDIR honoured)
BUILD ?= build
JOBS  ?= $(shell nproc 2>/dev/null || echo 2)
CMAKE_FLAGS ?=

PREFIX ?= /usr/local
DESTDIR ?=

FUZZ_SECONDS ?= 60

.PHONY: all deps configure build test demo bench fuzz install uninstall clean

all: build

deps:
	@./scripts/install-deps.sh

configure: deps
	cmake -S . -B $(BUILD) $(CMAKE_FLAGS)

build: configure
	cmake --build $(BUILD) -j $(JOBS)

test: build
	cd $(BUILD) && ctest --output-on-failure -j $(JOBS)

demo: build
	./scripts/demo.sh $(BUILD)

bench: build
	./scripts/bench.sh $(BUILD)

# Runs every fuzz target FUZZ_SECONDS seconds (clang, libFuzzer) and
# prints executions, crashes, timeouts, out-of-memory, corpus and coverage.
fuzz: deps
	./scripts/fuzz.sh $(FUZZ_SECONDS)

# Installs the filters where CUPS runs them, prndecode under PREFIX, the
# PPDs and the udev rule; DESTDIR stages the install elsewhere.
install: build
	DESTDIR=$(DESTDIR) cmake --install $(BUILD) --prefix $(PREFIX)

uninstall:
	DESTDIR=$(DESTDIR) cmake --build $(BUILD) --target uninstall

clean:
	rm -rf $(BUILD) demo-out
