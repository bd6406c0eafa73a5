# The two commands a fresh machine needs: `make demo` and `make test`.
JOBS ?= $(shell nproc)

.PHONY: all deps native win32 win64 test test-native test-win32 test-win64 demo clean install
.PHONY: asan test-asan test-valgrind sanitize fuzz-build fuzz fuzz-ci fuzz-merge

all: native win32 win64

deps:
	@scripts/install-deps.sh

native: deps
	@cmake --preset native >/dev/null
	@cmake --build --preset native -j $(JOBS)

win32: deps
	@cmake --preset win32 >/dev/null
	@cmake --build --preset win32 -j $(JOBS)

win64: deps
	@cmake --preset win64 >/dev/null
	@cmake --build --preset win64 -j $(JOBS)

test-native: native win32
	ctest --preset native -j $(JOBS)

test-win32: win32 native
	ctest --preset win32

# The 64-bit DLLs under 64-bit Wine, against the native build's answers and PNGs.
test-win64: win64 native
	ctest --preset win64

# The sanitizer build: the whole native suite under AddressSanitizer and
# UndefinedBehaviorSanitizer; and the native programs once each under Valgrind.
asan: deps
	@cmake --preset asan >/dev/null
	@cmake --build --preset asan -j $(JOBS)

test-asan: asan win32
	ctest --preset asan -j $(JOBS)

test-valgrind: native win32
	@scripts/valgrind-tests.sh build/native $(JOBS)

sanitize: test-asan test-valgrind

# Fuzzing: `make fuzz` runs both fuzz targets side by side for FUZZ_SECONDS of CPU time each;
# `make fuzz-ci` for FUZZ_CI_SECONDS each from the committed corpus, failing on any finding;
# `make fuzz-merge` adds what a run found new to the committed corpus, minimised.
FUZZ_SECONDS ?= 600
FUZZ_CI_SECONDS ?= 60

fuzz-build: deps
	@cmake --preset fuzz >/dev/null
	@cmake --build --preset fuzz -j $(JOBS)

fuzz: fuzz-build
	@scripts/fuzz-all.sh $(FUZZ_SECONDS) long

fuzz-ci: fuzz-build
	@scripts/fuzz-all.sh $(FUZZ_CI_SECONDS) ci

fuzz-merge: fuzz-build
	@scripts/fuzz-merge.sh gra_fuzzer
	@scripts/fuzz-merge.sh q_fuzzer

test: test-native test-win32 test-win64 test-asan test-valgrind fuzz-ci

demo: native win32
	@scripts/demo.sh

# Decoding speed: the plug-ins against the floor and against libpng, from one run of
# build/native/bench/decode_bench (BENCH_FLAGS passes Google Benchmark flags to it).
.PHONY: bench
bench: native
	build/native/bench/decode_bench $(BENCH_FLAGS)

# The desktop integration: the gdk-pixbuf loader modules, the MIME types and the thumbnailer
# entry, under PREFIX (/usr by default, where Debian's gdk-pixbuf looks). With DESTDIR the files
# are staged there and no cache is updated; without it the loader and MIME caches are updated.
PREFIX ?= /usr

install: native
	@test -f build/native/pixbuf/libpixbufloader-gra.so || \
	  { echo "install: the gdk-pixbuf modules were not built (libgdk-pixbuf-2.0-dev missing?)" >&2; exit 1; }
	@DESTDIR="$(DESTDIR)" cmake --install build/native --component desktop --prefix "$(PREFIX)"

clean:
	rm -rf build out
