#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Runs a 32-bit Windows test program under Wine. Where 32-bit Wine cannot run (not installed,
# or a kernel without 32-bit program support, where its loader fails to start), exits 77,
# which CTest reports as a skipped test.
set -uo pipefail

wine="${WINE:-}"
if [ -z "$wine" ]; then
  if [ -e /usr/lib/wine/wine ]; then wine=/usr/lib/wine/wine; else wine=$(command -v wine || true); fi
fi
if [ -z "$wine" ]; then
  echo "skipped: 32-bit Wine is not installed"
  exit 77
fi
if ! version=$("$wine" --version 2>&1); then
  echo "skipped: 32-bit Wine cannot run on this machine: $version"
  exit 77
fi

export WINEDEBUG="${WINEDEBUG:--all}"
export WINEDLLOVERRIDES="${WINEDLLOVERRIDES:-mscoree,mshtml=}"
echo "running under $version"
exec "$wine" "$@"
