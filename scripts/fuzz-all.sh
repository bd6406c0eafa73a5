#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Runs both fuzz targets side by side (scripts/fuzz.sh), one process each, and sums up.
#
#   scripts/fuzz-all.sh SECONDS ci|long
set -uo pipefail
cd "$(dirname "$0")/.."

seconds=$1
mode=$2
targets=(gra_fuzzer q_fuzzer)
pids=()
for t in "${targets[@]}"; do
  scripts/fuzz.sh "$t" "$seconds" "$mode" >"build/fuzz/$t-$mode.log" 2>&1 &
  pids+=($!)
done
failed=0
for i in "${!targets[@]}"; do
  t=${targets[$i]}
  if ! wait "${pids[$i]}"; then failed=1; fi
  echo "== $t ($mode, $seconds s): build/fuzz/$t-$mode.log"
  grep -E '^#[0-9]+[[:space:]]+(INITED|DONE)|^stat::(number_of_executed_units|average_exec_per_sec)|^fuzz.sh:' \
    "build/fuzz/$t-$mode.log" | tail -n 6
done
if [ "$failed" != 0 ]; then
  echo "fuzz-all: findings, see build/fuzz/findings:" >&2
  ls -l build/fuzz/findings/*/ >&2
fi
exit $failed
