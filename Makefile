# SPDX-License-Identifier: MIT
# The two commands a fresh machine needs: `make demo` and `make test`; `make check` is the fast
# tier for the edit-build-test loop (docs/testing.md).
JOBS ?= $(shell nproc)

.PHONY: all deps native win32 win64 web check test test-native test-win32 test-win64 test-web
.PHONY: demo clean
.PHONY: install install-build install-files uninstall
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

# The browser viewer: the plug-ins and the host library as WebAssembly, the page
# build/web/viewer.html (emscripten; see web/).
web: deps
	@cmake --preset web >/dev/null
	@cmake --build --preset web -j $(JOBS)

# The fast tier: the native build's unit and host tests (the check test preset), with only the
# packages they need: no MinGW, Wine, emscripten or chromium. The emulated Windows host's tests
# run the DLLs of build/win32 when they are there and are skipped when they are not.
check:
	@scripts/install-deps.sh --check
	@cmake --preset native >/dev/null
	@cmake --build --preset native -j $(JOBS)
	ctest --preset check -j $(JOBS)

# In the full gate a missing DLL fails the emulated host's tests instead of skipping them.
test-native: native win32
	PLANES_REQUIRE_DLLS=1 ctest --preset native -j $(JOBS)

test-win32: win32 native
	ctest --preset win32

# The 64-bit DLLs under 64-bit Wine, against the native build's answers and PNGs.
test-win64: win64 native
	ctest --preset win64

# The web module under node and the viewer page in chromium, both against the native planeconv.
test-web: web native
	ctest --preset web

# The sanitizer build: the whole native suite under AddressSanitizer and
# UndefinedBehaviorSanitizer; and the native programs once each under Valgrind.
asan: deps
	@cmake --preset asan >/dev/null
	@cmake --build --preset asan -j $(JOBS)

test-asan: asan win32
	PLANES_REQUIRE_DLLS=1 ctest --preset asan -j $(JOBS)

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

test: test-native test-win32 test-win64 test-web test-asan test-valgrind fuzz-ci test-dist \
      test-package test-licence

demo: native win32 web
	@scripts/demo.sh
	@echo "The viewer page, to open in a browser (it works offline, from disk):"
	@echo "  file://$(CURDIR)/build/web/viewer.html"

# The pinned outputs: what every test picture decodes to (tests/expected/decoded.sha256), which
# the tests of every build hold their decodes to. After a deliberate change to decoding, run
# this and commit the file with the change, saying why.
.PHONY: pinned
pinned: native
	build/native/tests/support/pinned write tests/expected/decoded.sha256

# Decoding speed: the plug-ins against the floor and against libpng, from one run of
# build/native/bench/decode_bench (BENCH_FLAGS passes Google Benchmark flags to it).
.PHONY: bench bench-web
bench: native
	build/native/bench/decode_bench $(BENCH_FLAGS)

# Decoding as WebAssembly (under node) against the native build, on the same pictures.
bench-web: native web
	@scripts/bench-web.sh

# The x86-64 DLLs as a Windows host calls them, under 64-bit Wine (in the win64 build's own
# prefix), against a native run on the same pictures taken just before. DLL_BENCH_SAMPLES sets
# how many samples each median takes.
.PHONY: bench-win64
DLL_BENCH_SAMPLES ?= 21
bench-win64: native win64
	build/native/bench/decode_bench --export=build/win64/bench \
	    --benchmark_filter='GetPicture/(gra|q16|q8)/|Floor' >/dev/null
	WINEPREFIX=$(CURDIR)/build/win64/wineprefix tests/win64/run_under_wine64.sh \
	    build/win64/bin/dll_bench.exe build/win64/bench $(DLL_BENCH_SAMPLES)

# Installing, from a tree of its own (build/install, the install preset) that builds only what is
# installed: no tests, benchmark or fuzz targets, and only the packages those programs need.
# Components (INSTALL_COMPONENTS, each a `cmake --install --component`):
#   planeconv  PREFIX/bin/planeconv
#   desktop    the gdk-pixbuf loader modules, the MIME types and the thumbnailer entry, under
#              PREFIX (/usr by default, where Debian's gdk-pixbuf looks). With DESTDIR the files
#              are staged there and no cache is updated; without it the loader and MIME caches
#              are updated.
#   qt         the Qt image plug-in, built for Qt 5 and for Qt 6, in each Qt's plug-in folder below
#              PREFIX (lib/x86_64-linux-gnu/qt5/plugins/imageformats with Debian's Qt); Qt
#              programs learn the MIME types from the desktop component's planes.xml.
#   python     the Python package planeplugins (a Pillow plug-in) in
#              PREFIX/lib/python3/dist-packages, where Debian's Python finds it.
# Each component's install adds the files it put in place, DESTDIR included, to
# build/install/installed_COMPONENT.txt; `make uninstall` removes exactly those files.
PREFIX ?= /usr
INSTALL_COMPONENTS ?= planeconv desktop qt python
INSTALL_TREE := build/install
STAGE := $(if $(DESTDIR),$(abspath $(DESTDIR)))

install-build:
	@scripts/install-deps.sh --install-only
	@cmake --preset install >/dev/null
	@cmake --build --preset install -j $(JOBS)

install: install-build
	@$(MAKE) --no-print-directory install-files

# The install step alone, on a tree already built (INSTALL_TREE).
install-files:
	@if echo " $(INSTALL_COMPONENTS) " | grep -q " desktop " && \
	    ! test -f $(INSTALL_TREE)/pixbuf/libpixbufloader-gra.so; then \
	  echo "install: the gdk-pixbuf modules were not built (libgdk-pixbuf-2.0-dev missing?)" >&2; exit 1; \
	fi
	@if echo " $(INSTALL_COMPONENTS) " | grep -q " qt " && \
	    ! ls $(INSTALL_TREE)/qt/qt*/imageformats/planeplugins.so >/dev/null 2>&1; then \
	  echo "install: no Qt image plug-in was built (qtbase5-dev and qt6-base-dev missing?)" >&2; exit 1; \
	fi
	@if echo " $(INSTALL_COMPONENTS) " | grep -q " python " && \
	    ! ls $(INSTALL_TREE)/python/planeplugins/_native*.so >/dev/null 2>&1; then \
	  echo "install: the Python package was not built (pybind11-dev or python3-dev missing?)" >&2; exit 1; \
	fi
	@for component in $(INSTALL_COMPONENTS); do \
	  DESTDIR="$(STAGE)" cmake --install $(INSTALL_TREE) --component $$component \
	    --prefix "$(PREFIX)" || exit 1; \
	  record=$(INSTALL_TREE)/installed_$$component.txt; \
	  { test -f $$record && cat $$record; \
	    awk -v stage="$(STAGE)" '{ print stage $$0 }' \
	      $(INSTALL_TREE)/install_manifest_$$component.txt; } | sort -u >$$record.new && \
	  mv $$record.new $$record || exit 1; \
	done

uninstall:
	@scripts/uninstall.sh $(INSTALL_TREE) "$(PREFIX)"

clean:
	rm -rf build out dist

# The release, into dist/ (see scripts/dist.sh): the Windows zip (x64 too once the win64 preset
# exists), the Debian package, the viewer page, the source tarball and SHA256SUMS. The version
# is the CMake project version (CMakeLists.txt), the one place it is set.
.PHONY: dist dist-win64 test-dist test-package test-licence
HAVE_WIN64_PRESET := $(shell grep -q '"name": *"win64"' CMakePresets.json && echo yes)

dist-win64: deps
	@cmake --preset win64 >/dev/null
	@cmake --build --preset win64 -j $(JOBS) --target gradec qdec planeconv planewic

dist: win32 web $(if $(HAVE_WIN64_PRESET),dist-win64)
	@scripts/dist.sh

# dist/ as a user gets it, its viewer page from file:// in chromium, and its setup program
# installed and uninstalled under 64-bit Wine (skipped where that cannot run).
test-dist: dist native
	@tests/release/dist_check.sh
	@$(if $(HAVE_WIN64_PRESET),cmake --build --preset win64 -j $(JOBS) --target wic_client && \
	  { tests/release/setup_under_wine64.sh || [ $$? = 77 ]; })
	@PLANES_DIST_PAGE=$$(ls $(CURDIR)/dist/planeplugins-*-viewer.html) \
	  node --test tests/web/dist_page.test.mjs

# The Debian packages installed with apt-get, used, purged (needs root; skipped without).
# The Qt packages' plug-ins are read through by the native build's Qt tests.
test-package: dist native
	@arch=$$(dpkg --print-architecture); tests/release/package_test.sh \
	  dist/planeplugins_*_$$arch.deb dist/planeplugins-qt5_*_$$arch.deb \
	  dist/planeplugins-qt6_*_$$arch.deb dist/python3-planeplugins_*_$$arch.deb

# KDE's image viewer under Xvfb with the built Qt 5 plug-in: it must show a GRA and a Q picture
# as planeconv renders them; the screenshots go to docs/. It installs gwenview and Xvfb first
# (about 230 packages), so it is not part of make test, whose run of the same test skips
# without them.
.PHONY: test-gwenview
test-gwenview: native
	@scripts/install-deps.sh --gwenview
	@tests/qt/gwenview_screenshot.sh $(CURDIR) $(CURDIR)/build/native \
	  $(CURDIR)/build/native/tests/qt/screen_check $(CURDIR)/docs

# Each source file carries its SPDX licence tag (scripts/spdx-tags.sh adds missing ones).
test-licence:
	@scripts/spdx-tags.sh --check
