#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Runs the WIC client with the Wine runner of its width (which exits 77, a skipped test, where
# that Wine cannot run), in the prefix WINEPREFIX names: the codec's own, since it registers
# itself per machine there.
#
#   wic_client.sh RUNNER WIC_CLIENT.EXE PLANEWIC.DLL FOLDER
set -uo pipefail
runner=$1 client=$2 dll=$3 folder=$4
# A path as Wine's drive Z: (the root of the file system) shows it.
windows_path() { local p; p=$(realpath "$1"); echo "Z:${p//\//\\}"; }
rm -rf "$folder"
mkdir -p "$folder"
"$runner" "$client" "$(windows_path "$dll")" "$(windows_path "$folder")"
