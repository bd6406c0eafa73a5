#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# The Windows build of planeconv links libpng and libdeflate, which no package provides for
# MinGW: this fetches Debian's source packages of both once and unpacks each into build/deps
# (build/deps/libpng, build/deps/libdeflate), where cmake/libpng_static.cmake and
# cmake/libdeflate_static.cmake build them.
set -euo pipefail
top="$(cd "$(dirname "$0")/.." && pwd)"
deps="$top/build/deps"
# Each source package, the folder it goes to and a file that shows it is there.
sources=(
  "libpng1.6 libpng png.h"
  "libdeflate libdeflate libdeflate.h"
)
missing=()
for entry in "${sources[@]}"; do
  read -r package folder marker <<<"$entry"
  [ -f "$deps/$folder/$marker" ] || missing+=("$entry")
done
[ ${#missing[@]} -eq 0 ] && exit 0

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
for entry in "${missing[@]}"; do
  read -r package folder marker <<<"$entry"
  (cd "$deps/download" && apt-get source --download-only -qq "$package" 2>/dev/null)
  rm -rf "${deps:?}/$folder" && mkdir -p "$deps/$folder"
  tar -xzf "$deps/download/${package}"_*.orig.tar.gz -C "$deps/$folder" --strip-components=1
  echo "$package source in $deps/$folder"
done
