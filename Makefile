# The two set-up commands of the README, plus the benchmarks.
#   make test   install what is missing, build, run every test
#   make demo   install what is missing, build, print a sample job
#   make bench  build and run the benchmarks
#   make install / make uninstall  (PREFIX, DESTDIR honoured)
BUILD ?= build
JOBS  ?= $(shell nproc 2>/dev/null || echo 2)
CMAKE_FLAGS ?=

PREFIX ?= /usr/local
DESTDIR ?=

.PHONY: all deps configure build test demo bench install uninstall clean

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

# Installs the filters where CUPS runs them, prndecode under PREFIX, the
# PPDs and the udev rule; DESTDIR stages the install elsewhere.
install: build
	DESTDIR=$(DESTDIR) cmake --install $(BUILD) --prefix $(PREFIX)

uninstall:
	DESTDIR=$(DESTDIR) cmake --build $(BUILD) --target uninstall

clean:
	rm -rf $(BUILD) demo-out
