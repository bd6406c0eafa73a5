#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# planeconv.exe under Wine converts every sample, through the real plug-in DLLs beside it, to the
# same PNG bytes as the native planeconv, and shows a Japanese comment the native planeconv wrote
# as it does. Skipped (77) where Wine cannot run.
#   planeconv_under_wine.sh PLANECONV.EXE NATIVE_PLANECONV SAMPLES [RUNNER]
# RUNNER runs a Windows program under the right Wine: run_under_wine.sh (32-bit) by default.
set -uo pipefail
exe="$1"
native="$2"
samples="$3"
here="$(cd "$(dirname "$0")" && pwd)"
runner="${4:-$here/run_under_wine.sh}"

if [ ! -x "$native" ]; then
  echo "the native planeconv is missing: $native (build the native preset first)" >&2
  exit 1
fi
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cp "$samples"/*.gra "$samples"/*.q "$samples"/*.rgb "$samples"/*.e1 "$work"/
cd "$work" || exit 1

"$runner" "$exe" convert ./*.gra ./*.q -d windows
status=$?
[ $status -eq 77 ] && exit 77
[ $status -eq 0 ] || { echo "planeconv.exe failed ($status)" >&2; exit 1; }
"$native" convert ./*.gra ./*.q -d native || exit 1

failed=0
for png in native/*.png; do
  if ! cmp -s "$png" "windows/$(basename "$png")"; then
    echo "$(basename "$png"): planeconv.exe wrote other bytes than the native build" >&2
    failed=1
  fi
done
[ $failed -eq 0 ] && echo "$(ls native | wc -l) pictures converted alike"

# A Japanese comment written by the native build (in code page 932) reads back the same.
"$native" encode native/gradient.png japanese.q --comment "日本語のコメント" -q || exit 1
shown=$("$runner" "$exe" info japanese.q | tr -d '\r' | grep '^  comment:')
if [ "$shown" != '  comment:   "日本語のコメント"' ]; then
  echo "planeconv.exe shows the native build's Japanese comment as: $shown" >&2
  failed=1
fi
exit $failed
