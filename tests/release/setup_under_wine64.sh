#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# The setup program of dist/ under 64-bit Wine, in a fresh prefix of its own: a silent install
# (/S) puts exactly the release's files in the install folder, registers the WIC codec as its
# table has it and lists the uninstaller in Apps & features; the WIC client then decodes the
# samples through the installed codec as pinned; a silent uninstall leaves no file, no folder and
# no key of the table or of Apps & features. Exits 77 where 64-bit Wine cannot run.
# Usage: setup_under_wine64.sh (from anywhere; reads dist/ and build/win64/bin/wic_client.exe)
set -uo pipefail
cd "$(dirname "$0")/../.."
root=$PWD
version=$(sed -n 's/^project(planeplugins VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)
setup=$root/dist/planeplugins-$version-setup.exe
client=$root/build/win64/bin/wic_client.exe
export WINEPREFIX=$root/build/win64/wineprefix-setup
. tests/win64/wine64_common.sh
for f in "$setup" "$client"; do
  [ -f "$f" ] || { echo "FAIL: $f is missing (make dist; the win64 build's wic_client)"; exit 1; }
done
rm -rf "$WINEPREFIX"
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
failed=0
fail() { echo "FAIL: $*"; failed=1; }
windows_path() { local p; p=$(realpath "$1"); echo "Z:${p//\//\\}"; }
uninstall_key='HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall\planeplugins'
installed=$WINEPREFIX/drive_c/Program\ Files/planeplugins

echo "setup: silent install under $version (64-bit), fresh prefix"
"$wine" "$setup" /S
status=$?
"$server" -w
[ $status = 0 ] || fail "the silent install answered $status"
want="LICENSE.txt README.txt uninstall.exe
x64/gradec.sph x64/planeconv.exe x64/planewic.dll x64/qdec.sph
x86/gradec.spi x86/planeconv.exe x86/planewic.dll x86/qdec.spi"
want=$(tr ' ' '\n' <<<"$want" | sort)
have=$(cd "$installed" 2>/dev/null && find . -type f | sed 's|^\./||' | sort)
[ "$have" = "$want" ] || fail "installed [$(echo $have)], want [$(echo $want)]"
"$wine" reg query "$uninstall_key" /v QuietUninstallString >/dev/null 2>&1 ||
  fail "no QuietUninstallString under $uninstall_key"
mkdir -p "$scratch/pictures"
"$wine" "$client" --installed "$(windows_path "$scratch/pictures")" || fail "the WIC client after the install"

echo "setup: silent uninstall"
"$wine" 'C:\Program Files\planeplugins\uninstall.exe' /S
status=$?
"$server" -w
[ $status = 0 ] || fail "the silent uninstall answered $status"
[ ! -e "$installed" ] || fail "left behind: $(cd "$installed" && find . | tr '\n' ' ')"
"$wine" "$client" --uninstalled || fail "the WIC client after the uninstall"
if "$wine" reg query "$uninstall_key" >/dev/null 2>&1; then fail "$uninstall_key is still there"; fi
"$server" -k 2>/dev/null
[ $failed = 0 ] && echo "setup: installed, decoded through and uninstalled without a trace"
exit $failed
