#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# make install's qt part, staged into a scratch DESTDIR: each Qt version's plug-in lands in that
# Qt's plug-in folder below the prefix and reads every sample from there, and make uninstall
# removes exactly what was installed.
# Usage: install_check.sh SOURCE_DIR BUILD_DIR QT_MAJOR PLUGIN_DIR TESTS...
#   PLUGIN_DIR: the plug-in folder relative to the prefix; TESTS: each Qt version's test program
#   (qtN_image_tests), in the order of QT_MAJOR's versions ("5 6").
set -euo pipefail
source_dir=$1
build=$2
read -r -a majors <<<"$3"
read -r -a plugin_dirs <<<"$4"
shift 4
stage=$(mktemp -d)
trap 'rm -rf "$stage"; rm -f "$build/installed_qt.txt"' EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }

make -s -C "$source_dir" install-files INSTALL_TREE="$build" INSTALL_COMPONENTS=qt \
  DESTDIR="$stage" PREFIX=/usr >"$stage.log" 2>&1 || { cat "$stage.log"; rm -f "$stage.log"; fail "install"; }
rm -f "$stage.log"
for i in "${!majors[@]}"; do
  plugin="$stage/usr/${plugin_dirs[$i]}/planeplugins.so"
  [ -f "$plugin" ] || fail "no Qt ${majors[$i]} plug-in at $plugin: $(find "$stage" -type f)"
  grep -qx "$plugin" "$build/installed_qt.txt" || fail "the install record lacks $plugin"
  # The staged plug-in, as the only one Qt finds, reads every sample.
  PLANES_QT_PLUGIN_ROOT=$(dirname "$(dirname "$plugin")") "$1" --gtest_brief=1 \
    --gtest_filter='Pictures/*' >"$stage/run.log" 2>&1 ||
    { cat "$stage/run.log"; fail "the installed Qt ${majors[$i]} plug-in"; }
  shift
done
[ "$(find "$stage" -name '*.so' | wc -l)" -eq "${#majors[@]}" ] ||
  fail "unexpected files: $(find "$stage" -name '*.so')"

make -s -C "$source_dir" uninstall INSTALL_TREE="$build" >/dev/null || fail "uninstall"
[ -z "$(find "$stage" -name '*.so')" ] || fail "uninstall left $(find "$stage" -name '*.so')"
echo "staged ${#majors[@]} Qt plug-ins, read every sample through them, removed them"
