#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Checks a plug-in DLL as a host's loader sees it: a 32-bit (PE32) or, with 64 as the second
# argument, a 64-bit (PE32+, x86-64) DLL whose exports are exactly the five undecorated names,
# which carries a resource section, and which imports system DLLs only.
set -euo pipefail
dll="$1"
bits="${2:-32}"
if [ "$bits" = 64 ]; then
  objdump="${OBJDUMP:-x86_64-w64-mingw32-objdump}"
  magic="020b"
  format="pei-x86-64"
else
  objdump="${OBJDUMP:-i686-w64-mingw32-objdump}"
  magic="010b"
  format="pei-i386"
fi
headers=$("$objdump" -p "$dll")
fail() { echo "$dll: $*" >&2; exit 1; }

grep -q "^Magic.*$magic" <<<"$headers" || fail "not a $bits-bit PE image"
grep -q "file format $format" <<<"$headers" || fail "not of the file format $format"
grep -q "^Characteristics" <<<"$headers" && grep -qi "DLL" <<<"$(grep -A12 '^Characteristics' <<<"$headers")" ||
  fail "not a DLL"

exports=$(sed -n '/\[Ordinal\/Name Pointer\] Table/,/^$/p' <<<"$headers" | grep -E '^\s+\[ *[0-9]+\] ' |
  sed -E 's/^\s+\[ *[0-9]+\] //' | sort | tr '\n' ' ')
want="GetPicture GetPictureInfo GetPluginInfo GetPreview IsSupported "
[ "$exports" = "$want" ] || fail "exports are '$exports', want '$want'"

imports=$(grep "DLL Name:" <<<"$headers" | awk '{print $3}' | sort -u | tr '\n' ' ')
for d in $imports; do
  case "${d^^}" in
    KERNEL32.DLL|USER32.DLL|MSVCRT.DLL) ;;
    *) fail "imports $d, which is not a system DLL" ;;
  esac
done

"$objdump" -h "$dll" | grep -q " \.rsrc " || fail "no resource section"
echo "$dll: exports ${exports}; imports ${imports}"
