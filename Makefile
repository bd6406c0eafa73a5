# The two commands a fresh machine needs: `make demo` and `make test`.
JOBS ?= $(shell nproc)

.PHONY: all deps native win32 test test-native test-win32 demo clean

all: native win32

deps:
	@scripts/install-deps.sh

native: deps
	@cmake --preset native >/dev/null
	@cmake --build --preset native -j $(JOBS)

win32: deps
	@cmake --preset win32 >/dev/null
	@cmake --build --preset win32 -j $(JOBS)

test-native: native win32
	ctest --preset native -j $(JOBS)

test-win32: win32 native
	ctest --preset win32

test: test-native test-win32

demo: native win32
	@scripts/demo.sh

clean:
	rm -rf build out
