#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# The differential run of the 64-bit DLLs against the native build: the native write_cases
# writes the cases with the native build's answers to a scratch folder, and compare_cases.exe
# makes the same calls through gradec.sph and qdec.sph under 64-bit Wine. Skipped (77) where
# 64-bit Wine cannot run.
#   differential_under_wine64.sh WRITE_CASES COMPARE_CASES.EXE
set -uo pipefail
write_cases="$1"
compare_cases="$2"
here="$(cd "$(dirname "$0")" && pwd)"

if [ ! -x "$write_cases" ]; then
  echo "the native write_cases is missing: $write_cases (build the native preset first)" >&2
  exit 1
fi
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
"$write_cases" "$work" || { echo "write_cases failed" >&2; exit 1; }
echo "$(du -sh "$work" | cut -f1) of cases written by the native build"

# The pictures opened by name are named relative to the case folder.
cd "$work" || exit 1
"$here/run_under_wine64.sh" "$compare_cases" .
