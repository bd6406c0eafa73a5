#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# make install and make uninstall: planeconv is installed into PREFIX/bin, with its manual page
# in PREFIX/share/man/man1, under a staging DESTDIR and recorded, and the Python package (when the tree built it) into
# PREFIX/lib/python3/dist-packages, where Debian's Python imports it from; uninstall removes
# exactly what was installed (and the bytecode Python wrote) and nothing else. And the
# tree make install builds (PLANES_TESTS=OFF) holds no test, benchmark or fuzz target.
#   install_test.sh SOURCE_DIR BUILT_TREE
set -uo pipefail
source="$1"
tree="$2"
work=$(mktemp -d)
trap 'rm -rf "$work"; rm -f "$tree"/installed_planeconv.txt "$tree"/installed_python.txt' EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }

stage="$work/stage"
mkdir -p "$stage/usr/bin"
echo "not ours" >"$stage/usr/bin/other"
components=planeconv
ls "$tree"/python/planeplugins/_native*.so >/dev/null 2>&1 && components="planeconv python"
make -s -C "$source" install-files INSTALL_TREE="$tree" INSTALL_COMPONENTS="$components" \
  DESTDIR="$stage" PREFIX=/usr >"$work/install.log" 2>&1 || { cat "$work/install.log"; fail "install"; }
"$stage/usr/bin/planeconv" --version >/dev/null || fail "the installed planeconv does not run"
grep -qx "$stage/usr/bin/planeconv" "$tree/installed_planeconv.txt" ||
  fail "the install record lacks $stage/usr/bin/planeconv"
# The manual page beside it, as man finds it below the prefix, with every command in it.
page=$stage/usr/share/man/man1/planeconv.1
grep -qx "$page" "$tree/installed_planeconv.txt" || fail "the install record lacks $page"
shown=$(MANWIDTH=100 man -l "$page" 2>&1) || fail "man cannot show $page: $shown"
for command in info convert encode; do
  grep -q "planeconv $command \[OPTIONS\]" <<<"$shown" || fail "$page lacks the command $command"
done
if [ "$components" != planeconv ]; then
  packages=$stage/usr/lib/python3/dist-packages
  (cd "$work" && PYTHONPATH="$packages" /usr/bin/python3 -c \
    'import planeplugins, sys; sys.exit(not planeplugins.__file__.startswith(sys.argv[1]))' \
    "$packages/planeplugins/") || fail "the installed Python package does not import"
  /usr/bin/python3 -m compileall -q "$packages/planeplugins" || fail "compileall"
fi

make -s -C "$source" uninstall INSTALL_TREE="$tree" >"$work/uninstall.log" 2>&1 ||
  { cat "$work/uninstall.log"; fail "uninstall"; }
[ ! -e "$stage/usr/bin/planeconv" ] || fail "uninstall left planeconv"
[ ! -e "$page" ] || fail "uninstall left the manual page"
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
