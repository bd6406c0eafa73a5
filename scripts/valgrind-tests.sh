#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Runs every native test program of a build once under Valgrind memcheck: each GoogleTest
# program with all its tests, every other test with its arguments. Fails when any run reports
# a memory error or a leak.
#
#   scripts/valgrind-tests.sh [BUILD_DIR] [JOBS]      (default build/native, nproc)
#
# VALGRIND_EXCLUDE is a regular expression of programs to leave out (default none; the emulated
# Windows host is the slowest, about 60 times slower than without Valgrind). A program that the
# tests start as a child process (planeconv) runs outside Valgrind.
set -euo pipefail
cd "$(dirname "$0")/.."

build=${1:-build/native}
jobs=${2:-$(nproc)}
exclude=${VALGRIND_EXCLUDE:-^$}
logs=$PWD/$build/valgrind
suppressions=$PWD/scripts/valgrind.supp
rm -rf "$logs"
mkdir -p "$logs"

# One command per program: the test commands as ctest lists them, GoogleTest filters dropped;
# only the project's own programs, not scripts that run other tools nor the system's interpreters.
ctest --test-dir "$build" -N -V | sed -n 's/^.*Test command: //p' | tr -d '"' |
  sed 's/ --gtest_filter=.*$//' | sort -u | { grep -Ev "$exclude" || true; } |
  while read -r command; do
    program=${command%% *}
    # The build's own programs only: not an interpreter the tests start (Debian's Python).
    case $program in "$PWD/$build"/*) ;; *) continue ;; esac
    if [ -n "$command" ] && [ "$(head -c 4 "$program" 2>/dev/null)" = $'\x7fELF' ]; then
      echo "$command"
    fi
  done >"$logs/commands"
[ -s "$logs/commands" ] || { echo "valgrind-tests: no tests found in $build" >&2; exit 1; }

run_one() {
  local command=$1 logs=$2 suppressions=$3
  local program=${command%% *}
  local log=$logs/$(basename "$program").log
  local start=$SECONDS
  if (cd "$(dirname "$program")" &&
      valgrind -q --error-exitcode=1 --leak-check=full --track-origins=yes \
        --suppressions="$suppressions" $command) >"$log" 2>&1; then
    echo "valgrind: $(basename "$program") clean ($((SECONDS - start)) s)"
  else
    echo "valgrind: $(basename "$program") FAILED, see $log"
    return 1
  fi
}
export -f run_one

tr '\n' '\0' <"$logs/commands" | xargs -0 -P "$jobs" -I{} bash -c 'run_one "$1" "$2" "$3"' _ {} "$logs" "$suppressions"
