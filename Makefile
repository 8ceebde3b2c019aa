# The two everyday commands are `make run` and `make test`; both install what is missing first.
.PHONY: all deps run build test package bench fuzz format clean

JOBS ?= $(shell nproc)
FUZZ_SECONDS ?= 60

all: build

deps:
	@scripts/install-deps

build: deps
	cmake --preset release
	cmake --build --preset release -j $(JOBS)

run: build
	build/release/bin/tolvar

test: deps
	cmake --preset dev
	cmake --build --preset dev -j $(JOBS)
	ctest --preset dev
	@# The core must stand without Qt, as a port to another platform needs it.
	cmake --preset core
	cmake --build --preset core -j $(JOBS)
	ctest --preset core
	@# The core and the Windows platform layer, cross-built and tested under Wine.
	cmake --preset windows-core
	cmake --build --preset windows-core -j $(JOBS)
	ctest --preset windows-core

# The Debian package, tolvar_<version>_amd64.deb, in build/release/.
package: build
	cd build/release && cpack -G DEB

bench: deps
	cmake --preset bench
	cmake --build --preset bench -j $(JOBS)
	scripts/run-benchmarks build/bench

fuzz: deps
	cmake --preset fuzz
	cmake --build --preset fuzz -j $(JOBS)
	scripts/run-fuzzers build/fuzz/bin $(FUZZ_SECONDS)

format:
	git ls-files '*.cpp' '*.h' | xargs clang-format -i

clean:
	rm -rf build
