#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Runs the WIC client under 64-bit Wine in the prefix WINEPREFIX names (the codec's own: it
# registers itself per machine there), with its own Wine server, stopped at the end. Exits 77,
# a skipped test, where 64-bit Wine cannot run.
#
#   wic_under_wine64.sh WIC_CLIENT.EXE PLANEWIC.DLL FOLDER
set -uo pipefail
. "$(dirname "$0")/../win64/wine64_common.sh"
client=$1 dll=$2 folder=$3
# A path as Wine's drive Z: (the root of the file system) shows it.
windows_path() { local p; p=$(realpath "$1"); echo "Z:${p//\//\\}"; }
rm -rf "$folder"
mkdir -p "$folder"
echo "running under $version (64-bit)"
"$wine" "$client" "$(windows_path "$dll")" "$(windows_path "$folder")"
status=$?
"$server" -k 2>/dev/null || true
exit $status
