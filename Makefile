# The two commands a fresh machine needs: `make demo` and `make test`.
JOBS ?= $(shell nproc)

.PHONY: all deps native win32 test test-native test-win32 demo clean install

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
