#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Runs a 64-bit Windows test program under 64-bit Wine (Debian's wine64), in the Wine prefix
# that WINEPREFIX names, which must be one of 64-bit Wine's own: a prefix made by 32-bit Wine
# stays 32-bit. Where 64-bit Wine cannot run, exits 77, which CTest reports as a skipped test.
# The test run keeps a Wine server running for the prefix (wine64_server.sh); without one, each
# start takes some seconds more.
set -uo pipefail
. "$(dirname "$0")/wine64_common.sh"
echo "running under $version (64-bit)"
exec "$wine" "$@"
