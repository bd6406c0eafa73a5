#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Runs one fuzz target of build/fuzz for a while.
#
#   scripts/fuzz.sh TARGET SECONDS [ci|long]
#
# The target starts from its committed corpus (fuzz/corpus/TARGET) and from seeds that
# make_seeds writes from the writers and the samples; what it finds new goes to
# build/fuzz/corpus/TARGET, never to the committed corpus (scripts/fuzz-merge.sh does that).
# Crashing inputs land in build/fuzz/findings/TARGET. FUZZ_BIN names another folder of
# binaries (a long run can use a copy while build/fuzz is rebuilt).
#   ci    one run of SECONDS from the committed corpus alone, which stops at the first finding
#         with exit code 1 (make test)
#   long  (the default) runs of at most 10 minutes, each resumed from the corpus so far, until
#         the target has used SECONDS of CPU time; a finding ends a run, not the session, and
#         the exit code is 1 when there was any
set -euo pipefail
cd "$(dirname "$0")/.."

target=$1
seconds=$2
mode=${3:-long}
format=${target%_fuzzer}
bin=${FUZZ_BIN:-build/fuzz/fuzz}
work=build/fuzz/corpus/$target
seeds=build/fuzz/seeds/$target
findings=build/fuzz/findings/$target
mkdir -p "$work" "$findings"

if [ ! -d "$seeds" ]; then
  "$bin/make_seeds" "$format" "$seeds" samples/*."$format" >/dev/null
fi

# By-name inputs are written to scratch files; in memory they cost no disk waits, which
# otherwise take about half of each target's time.
if [ -z "${TMPDIR:-}" ] && [ -d /dev/shm ] && [ -w /dev/shm ]; then
  export TMPDIR=/dev/shm
fi

# A smaller quarantine keeps freed pixel blocks from costing fresh pages on every run.
export ASAN_OPTIONS=${ASAN_OPTIONS:-quarantine_size_mb=16:detect_leaks=1}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}

run() {
  "$bin/$target" -max_len=20000 -timeout=10 -rss_limit_mb=2048 -print_final_stats=1 \
    -dict="fuzz/$target.dict" -artifact_prefix="$findings/" -max_total_time="$1" \
    "$work" "fuzz/corpus/$target" "$seeds"
}

if [ "$mode" = ci ]; then
  # From the committed corpus alone, into a fresh folder.
  work=build/fuzz/ci/$target
  rm -rf "$work"
  mkdir -p "$work"
  "$bin/$target" -max_len=20000 -timeout=10 -rss_limit_mb=2048 -print_final_stats=1 \
    -dict="fuzz/$target.dict" -artifact_prefix="$findings/" -max_total_time="$seconds" \
    "$work" "fuzz/corpus/$target"
  exit
fi

# CPU seconds used by the runs so far: the children's user and system time, as the shell's
# own `times` reports it (not in a subshell, which has children of its own).
cpu_file=$(mktemp)
trap 'rm -f "$cpu_file"' EXIT
cpu_used() {
  times >"$cpu_file"
  cpu=$(sed -n 2p "$cpu_file" | awk '{
    split($1, u, /[ms]/); split($2, s, /[ms]/); printf "%d\n", u[1] * 60 + u[2] + s[1] * 60 + s[2] }')
}

found=0
cpu_used
while [ "$cpu" -lt "$seconds" ]; do
  left=$((seconds - cpu))
  run $((left < 600 ? left : 600)) || found=1
  cpu_used
  echo "fuzz.sh: $target has used $cpu s of CPU time"
done
exit $found
