# The two everyday commands are `make run` and `make test`; both install what is missing first.
.PHONY: all deps run build test package windows bench fuzz format clean

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
	@# tolvar.exe needs the Qt for Windows that `make windows` builds once; without it this step is skipped.
	@if [ -f "$$HOME/.cache/tolvar/qt-6.4.2-mingw/lib/cmake/Qt6/qt.toolchain.cmake" ]; then \
		cmake --preset windows >/dev/null && echo "windows preset: configures against the cached Qt for Windows"; \
	else echo "windows preset: skipped, no Qt for Windows in ~/.cache/tolvar (make windows builds it)"; fi

# tolvar.exe, its portable zip and its installer, in build/windows/. The first run builds Qt for Windows into
# ~/.cache/tolvar, which takes long; later runs reuse it.
windows: deps
	scripts/build-qt-windows
	cmake --preset windows
	cmake --build --preset windows -j $(JOBS)
	scripts/package-windows build/windows "$$(scripts/build-qt-windows | tail -1)"

# The Debian package, tolvar_<version>_amd64.deb, in build/release/.
package: build
	cd build/release && cpack -G DEB

bench:
	@scripts/install-deps bench
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
