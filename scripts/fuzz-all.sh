#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Runs both fuzz targets side by side (scripts/fuzz.sh), one process each, and sums up.
#
#   scripts/fuzz-all.sh SECONDS ci|long
#
# Each target's SECONDS are shared out over the paths of the decoders' inner loops
# (framework/wide_paths.h), one run after the other with PLANES_WIDE_PATH set: FUZZ_WIDE_PATHS
# lists them (default "avx2 sse2 portable"; a path the processor lacks runs its widest below).
set -uo pipefail
cd "$(dirname "$0")/.."

seconds=$1
mode=$2
read -r -a paths <<<"${FUZZ_WIDE_PATHS:-avx2 sse2 portable}"
share=$(((seconds + ${#paths[@]} - 1) / ${#paths[@]}))
targets=(gra_fuzzer q_fuzzer)
pids=()
for t in "${targets[@]}"; do
  (
    failed=0
    for path in "${paths[@]}"; do
      PLANES_WIDE_PATH=$path scripts/fuzz.sh "$t" "$share" "$mode" \
        >"build/fuzz/$t-$mode-$path.log" 2>&1 || failed=1
    done
    exit $failed
  ) &
  pids+=($!)
done
failed=0
for i in "${!targets[@]}"; do
  t=${targets[$i]}
  if ! wait "${pids[$i]}"; then failed=1; fi
  for path in "${paths[@]}"; do
    echo "== $t ($mode, $share s, $path path): build/fuzz/$t-$mode-$path.log"
    grep -E '^#[0-9]+[[:space:]]+(INITED|DONE)|^stat::(number_of_executed_units|average_exec_per_sec)|^fuzz.sh:' \
      "build/fuzz/$t-$mode-$path.log" | tail -n 6
  done
done
if [ "$failed" != 0 ]; then
  echo "fuzz-all: findings, see build/fuzz/findings:" >&2
  ls -l build/fuzz/findings/*/ >&2
fi
exit $failed
