#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Checks planewic.dll as COM and a user's machine see it: a DLL of the build's width whose
# exports are exactly the five undecorated COM server entry points, which carries its version
# resource and imports system DLLs only (no runtime DLL beside it, no plug-in DLL).
#   check_codec_dll.sh DLL 32|64
set -euo pipefail
dll=$1 bits=$2
if [ "$bits" = 64 ]; then tools=x86_64-w64-mingw32 format=pei-x86-64
else tools=i686-w64-mingw32 format=pei-i386; fi
headers=$("$tools-objdump" -p "$dll")
fail() { echo "$dll: $*" >&2; exit 1; }
grep -q "file format $format" <<<"$headers" || fail "not of the file format $format"
exports=$(sed -n '/\[Ordinal\/Name Pointer\] Table/,/^$/p' <<<"$headers" | grep -E '^\s+\[ *[0-9]+\] ' |
  sed -E 's/^\s+\[ *[0-9]+\] //' | sort | tr '\n' ' ')
want="DllCanUnloadNow DllGetClassObject DllInstall DllRegisterServer DllUnregisterServer "
[ "$exports" = "$want" ] || fail "exports are '$exports', want '$want'"
imports=$(grep "DLL Name:" <<<"$headers" | awk '{print $3}' | sort -u | tr '\n' ' ')
for d in $imports; do
  case "${d^^}" in
    KERNEL32.DLL|ADVAPI32.DLL|OLE32.DLL|SHELL32.DLL|WINDOWSCODECS.DLL|MSVCRT.DLL) ;;
    *) fail "imports $d, which is not a system DLL" ;;
  esac
done
rc=$("$tools-windres" -i "$dll" -O rc) || fail "windres cannot read its resources"
grep -qF 'VALUE "InternalName", "planewic"' <<<"$rc" || fail "no version resource"
echo "$dll: exports ${exports}; imports ${imports}"
