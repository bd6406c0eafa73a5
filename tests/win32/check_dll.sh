#!/usr/bin/env bash
# Checks a plug-in DLL as a host's loader sees it: a 32-bit PE DLL whose exports are exactly the
# five undecorated names, which carries a resource section, and which imports system DLLs only.
set -euo pipefail
dll="$1"
objdump="${OBJDUMP:-i686-w64-mingw32-objdump}"
headers=$("$objdump" -p "$dll")
fail() { echo "$dll: $*" >&2; exit 1; }

grep -q "^Magic.*010b" <<<"$headers" || fail "not a 32-bit PE image"
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
