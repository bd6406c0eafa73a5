#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Installs what the builds and tests need, with apt, when it is missing. Quiet and quick when
# everything is there already.
#
# --install-only: only what building the installed programs needs (make install), and Pillow,
# which the installed Python package plugs into: no test, Windows, sanitizer or Wine packages.
# --check: what the native build and its fast tests need (make check): no Windows, web,
# sanitizer or Wine packages.
set -euo pipefail

mode=all
case "${1:-}" in
  --install-only) mode=install ;;
  --check) mode=check ;;
  # only KDE's image viewer and Xvfb, for make test-gwenview (about 230 packages with KDE
  # Frameworks: not installed for make test, whose Gwenview test skips without them).
  --gwenview) mode=gwenview ;;
  "") ;;
  *) echo "usage: scripts/install-deps.sh [--install-only | --check | --gwenview]" >&2; exit 2 ;;
esac

if [ $mode = gwenview ]; then
  packages=(gwenview xvfb)
elif [ $mode = install ]; then
  packages=(
    cmake make g++ pkg-config libpng-dev libdeflate-dev
    libgdk-pixbuf-2.0-dev libgdk-pixbuf2.0-bin shared-mime-info desktop-file-utils
    qtbase5-dev qt6-base-dev
    python3-dev pybind11-dev python3-pil
  )
elif [ $mode = check ]; then
  packages=(
    cmake make g++ pkg-config python3
    libgtest-dev googletest libbenchmark-dev libpng-dev libdeflate-dev libunicorn-dev
    libgdk-pixbuf-2.0-dev libgdk-pixbuf2.0-bin shared-mime-info desktop-file-utils
    qtbase5-dev qt6-base-dev
  )
else
  packages=(
    cmake make g++ pkg-config python3
    libgtest-dev googletest libbenchmark-dev libpng-dev libdeflate-dev
    g++-mingw-w64-i686 binutils-mingw-w64-i686 libz-mingw-w64-dev
    g++-mingw-w64-x86-64 binutils-mingw-w64-x86-64
    libunicorn-dev
    libgdk-pixbuf-2.0-dev libgdk-pixbuf2.0-bin shared-mime-info desktop-file-utils
    libglib2.0-bin xdg-utils libfile-mimeinfo-perl
    qtbase5-dev qt6-base-dev
    python3-dev pybind11-dev python3-pil python3-pytest
    clang libclang-rt-14-dev valgrind
    emscripten chromium
    dpkg-dev debhelper dh-python lintian zip unzip man-db nsis
    locales
  )
fi

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "ok installed" || missing+=("$p")
done
# node and npm for the web build and its tests: Debian's, unless the machine has its own.
if [ $mode = all ]; then
  command -v node >/dev/null || missing+=(nodejs)
  command -v npm >/dev/null || missing+=(npm)
fi

SUDO=""
[ "$(id -u)" -ne 0 ] && SUDO="sudo"
export DEBIAN_FRONTEND=noninteractive

if [ ${#missing[@]} -gt 0 ]; then
  echo "Installing: ${missing[*]}"
  $SUDO apt-get update -qq
  $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi

[ $mode = all ] || exit 0

# 32-bit Wine runs the Windows test host where the kernel can run 32-bit programs. Set
# PLANES_NO_WINE=1 to skip it; the emulated host tests run either way.
if [ "${PLANES_NO_WINE:-0}" != "1" ] && ! dpkg-query -W -f='${Status}' wine32:i386 2>/dev/null | grep -q "ok installed"; then
  echo "Installing 32-bit Wine"
  if ! dpkg --print-foreign-architectures | grep -qx i386; then
    $SUDO dpkg --add-architecture i386
  fi
  $SUDO apt-get update -qq
  $SUDO apt-get install -y -qq --no-install-recommends wine wine32:i386 >/dev/null ||
    echo "warning: 32-bit Wine could not be installed; the Wine-run host tests will be skipped" >&2
fi

# 64-bit Wine runs the tests of the 64-bit DLLs; unlike 32-bit Wine it needs no 32-bit support
# from the kernel. PLANES_NO_WINE=1 skips it too.
if [ "${PLANES_NO_WINE:-0}" != "1" ] && ! dpkg-query -W -f='${Status}' wine64 2>/dev/null | grep -q "ok installed"; then
  echo "Installing 64-bit Wine"
  $SUDO apt-get update -qq
  $SUDO apt-get install -y -qq --no-install-recommends wine64 >/dev/null ||
    echo "warning: 64-bit Wine could not be installed; the wine64-run tests will be skipped" >&2
fi

# puppeteer-core for the viewer page's browser test, at the version the lock file pins. It drives
# Debian's chromium and downloads no browser.
web_tests="$(dirname "$0")/../tests/web"
if [ ! -f "$web_tests/node_modules/.package-lock.json" ] ||
   [ "$web_tests/package-lock.json" -nt "$web_tests/node_modules/.package-lock.json" ]; then
  echo "Installing the web tests' node modules (npm ci)"
  (cd "$web_tests" && PUPPETEER_SKIP_DOWNLOAD=1 npm ci --ignore-scripts --no-audit --no-fund --loglevel=error)
fi

# libpng's and libdeflate's sources, for the Windows builds of planeconv.
"$(dirname "$0")/fetch-windows-sources.sh"
