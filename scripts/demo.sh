#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# The demo: converts every bundled sample to PNG under out/ with planeconv and prints a table.
set -euo pipefail
top="$(cd "$(dirname "$0")/.." && pwd)"
planeconv="$top/build/native/tools/planeconv"
out="$top/out"
mkdir -p "$out"

printf '%-12s %-10s %-8s %-32s %-20s %s\n' FILE FORMAT COLOURS COMMENT OUTPUT TIME
for f in "$top"/samples/*.gra "$top"/samples/*.q; do
  name=$(basename "$f")
  info=$("$planeconv" info "$f")
  format=$(sed -n 's/^  format: *\([^ ]*\).*/\1/p' <<<"$info")
  colours=$(sed -n 's/^  colours: *\([0-9]*\).*/\1/p' <<<"$info")
  comment=$(sed -n 's/^  comment: *//p' <<<"$info")
  [ -n "$comment" ] || comment="-"
  png="$out/${name%.*}.png"
  start=$(date +%s%N)
  "$planeconv" convert "$f" -o "$png" --force 2>/dev/null
  ms=$(( ($(date +%s%N) - start) / 1000000 ))
  printf '%-12s %-10s %-8s %-32s %-20s %s ms\n' "$name" "$format" "$colours" "$comment" \
    "out/$(basename "$png")" "$ms"
done
echo
echo "Open the PNGs under out/ with any image viewer."
