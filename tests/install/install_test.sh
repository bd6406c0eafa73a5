#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# make install and make uninstall: planeconv is installed into PREFIX/bin under a staging
# DESTDIR and recorded; uninstall removes exactly what was installed and nothing else. And the
# tree make install builds (PLANES_TESTS=OFF) holds no test, benchmark or fuzz target.
#   install_test.sh SOURCE_DIR BUILT_TREE
set -uo pipefail
source="$1"
tree="$2"
work=$(mktemp -d)
trap 'rm -rf "$work"; rm -f "$tree"/installed_planeconv.txt' EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }

stage="$work/stage"
mkdir -p "$stage/usr/bin"
echo "not ours" >"$stage/usr/bin/other"
make -s -C "$source" install-files INSTALL_TREE="$tree" INSTALL_COMPONENTS=planeconv \
  DESTDIR="$stage" PREFIX=/usr >"$work/install.log" 2>&1 || { cat "$work/install.log"; fail "install"; }
"$stage/usr/bin/planeconv" --version >/dev/null || fail "the installed planeconv does not run"
grep -qx "$stage/usr/bin/planeconv" "$tree/installed_planeconv.txt" ||
  fail "the install record lacks $stage/usr/bin/planeconv"

make -s -C "$source" uninstall INSTALL_TREE="$tree" >"$work/uninstall.log" 2>&1 ||
  { cat "$work/uninstall.log"; fail "uninstall"; }
[ ! -e "$stage/usr/bin/planeconv" ] || fail "uninstall left planeconv"
[ "$(cat "$stage/usr/bin/other")" = "not ours" ] || fail "uninstall touched another file"
[ "$(find "$stage" -type f | wc -l)" -eq 1 ] || fail "uninstall left files: $(find "$stage" -type f)"
[ ! -e "$tree/installed_planeconv.txt" ] || fail "the install record stays after uninstall"
if make -s -C "$source" uninstall INSTALL_TREE="$tree" >/dev/null 2>&1; then
  fail "a second uninstall found something to remove"
fi

# The install tree: only what is installed and what it is built from.
cmake -S "$source" -B "$work/tree" -DPLANES_TESTS=OFF >"$work/configure.log" 2>&1 ||
  { cat "$work/configure.log"; fail "configure without tests"; }
targets=$(cmake --build "$work/tree" --target help | sed -n 's/^\.\.\. //p' | cut -d' ' -f1)
unwanted=$(grep -E '_tests|_bench|bench_|fuzz|convert_split|make_seeds' <<<"$targets")
[ -z "$unwanted" ] || fail "the install tree builds $unwanted"
grep -qx planeconv <<<"$targets" || fail "the install tree has no planeconv"
echo "installed, recorded and removed; the install tree has $(wc -l <<<"$targets") targets"
