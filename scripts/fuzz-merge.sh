#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Adds to a target's committed corpus (fuzz/corpus/TARGET) the inputs of the last runs
# (build/fuzz/corpus/TARGET) and of the seeds that reach code or features the corpus does not,
# minimised: the fewest inputs that keep all the coverage (a greedy set cover).
#
#   scripts/fuzz-merge.sh TARGET
set -euo pipefail
cd "$(dirname "$0")/.."

target=$1
corpus=fuzz/corpus/$target
mkdir -p "$corpus" "build/fuzz/corpus/$target" "build/fuzz/seeds/$target"
before=$(ls "$corpus" | wc -l)
ASAN_OPTIONS=${ASAN_OPTIONS:-quarantine_size_mb=16} "build/fuzz/fuzz/$target" -set_cover_merge=1 \
  -max_len=20000 "$corpus" "build/fuzz/corpus/$target" "build/fuzz/seeds/$target" 2>&1 |
  grep -E '^MERGE-OUTER: [0-9]+ new files' || true
echo "$target: $before -> $(ls "$corpus" | wc -l) files, $(du -sk --apparent-size "$corpus" | cut -f1) KB"
