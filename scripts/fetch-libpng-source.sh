#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# The Windows build of planeconv links libpng, which no package provides for MinGW: this fetches
# Debian's libpng source package once and unpacks it into build/deps/libpng.
set -euo pipefail
top="$(cd "$(dirname "$0")/.." && pwd)"
deps="$top/build/deps"
[ -f "$deps/libpng/png.h" ] && exit 0

SUDO=""
[ "$(id -u)" -ne 0 ] && SUDO="sudo"
if ! grep -rqs "deb-src" /etc/apt/sources.list /etc/apt/sources.list.d/; then
  echo "Adding Debian's source packages to apt"
  $SUDO tee /etc/apt/sources.list.d/planes-sources.sources >/dev/null <<SOURCES
Types: deb-src
URIs: http://deb.debian.org/debian
Suites: bookworm bookworm-updates
Components: main
Signed-By: /usr/share/keyrings/debian-archive-keyring.gpg
SOURCES
  $SUDO apt-get update -qq
fi
mkdir -p "$deps/download"
(cd "$deps/download" && apt-get source --download-only -qq libpng1.6 2>/dev/null)
rm -rf "$deps/libpng" && mkdir -p "$deps/libpng"
tar -xzf "$deps"/download/libpng1.6_*.orig.tar.gz -C "$deps/libpng" --strip-components=1
echo "libpng source in $deps/libpng"
