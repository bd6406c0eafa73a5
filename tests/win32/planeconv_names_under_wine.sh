#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# planeconv.exe as a Windows user runs it from cmd, under Wine: wildcards it expands itself,
# names in any script (Japanese names, which the ANSI code page of the run cannot hold, and
# accented ones, which it can) read with their companion files and written under the same
# names, also with -r; paths shown with their backslashes; plug-in load errors in words. Each
# PNG must be the native planeconv's byte for byte, which it is only where the companions were
# read. Skipped (77) where Wine cannot run.
#   planeconv_names_under_wine.sh PLANECONV.EXE NATIVE_PLANECONV SAMPLES RUNNER
set -uo pipefail
exe="$1"
native="$2"
samples="$3"
runner="$4"
export LC_ALL=C.UTF-8  # Wine reads the arguments and writes names as UTF-8

if [ ! -x "$native" ]; then
  echo "the native planeconv is missing: $native (build the native preset first)" >&2
  exit 1
fi
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
bin="$(dirname "$exe")"
windows() { printf 'Z:%s' "$(printf '%s' "$1" | tr / '\\')"; }
failed=0
fail() {
  echo "FAILED: $*" >&2
  failed=1
}
# Runs cmd /c with the arguments; the output (standard output and error) in $work/said.
in_cmd() {
  "$runner" cmd /c "$@" >"$work/said" 2>&1
  local status=$?
  sed -i 's/\r$//' "$work/said"  # the console's line ends
  return $status
}
same_pngs() {  # same_pngs NATIVE_DIR WINDOWS_DIR: every PNG of the one is in the other, alike
  local count=0 png
  while IFS= read -r -d '' png; do
    local rel="${png#"$1"/}"
    if [ ! -f "$2/$rel" ]; then
      fail "$2/$rel was not written"
    elif ! cmp -s "$png" "$2/$rel"; then
      fail "$2/$rel: other bytes than the native build's"
    fi
    count=$((count + 1))
  done < <(find "$1" -name '*.png' -print0)
  local theirs
  theirs=$(find "$2" -name '*.png' | wc -l)
  [ "$count" -eq "$theirs" ] || fail "$2 holds $theirs PNGs, the native build wrote $count"
  echo "$count PNGs alike in $2"
}

cd "$work" || exit 1
mkdir samples locale
cp "$samples"/*.gra "$samples"/*.q "$samples"/*.rgb "$samples"/*.e1 samples/

# 1. The README's own example, wildcards expanded by planeconv.exe.
(cd samples && "$runner" cmd /c "$(windows "$exe")" convert '*.gra' '*.q' -d out >"$work/said" 2>&1)
status=$?
[ $status -eq 77 ] && { cat "$work/said"; exit 77; }
[ $status -eq 0 ] || fail "convert *.gra *.q -d out: exit $status: $(cat "$work/said")"
(cd samples && "$native" convert ./*.gra ./*.q -d native) || exit 1
same_pngs samples/native samples/out

# 2. Folders of Japanese and accented names, each GRA picture with its companions, under a
# Western code page (1252: the Japanese names go to the decoder linked into planeconv.exe, the
# accented ones to the DLL) and a Japanese one (932: the other way round).
card=$(ls samples/*.gra | head -1)
stem="${card%.gra}"
if [ ! -f "$stem.rgb" ] || [ ! -f "$stem.e1" ]; then
  fail "the first GRA sample, $card, has no companions to read"
fi
names_in() {  # names_in LOCALE TOP
  local top="$2" name
  mkdir -p "$top/写真/下" "$top/Ünïcödé"
  for name in "写真/絵はがき" "写真/下/夜景" "Ünïcödé/Café"; do
    cp "$card" "$top/$name.gra"
    cp "$stem.rgb" "$top/$name.rgb"
    cp "$stem.e1" "$top/$name.e1"
  done
  cp "$(ls samples/*.q | head -1)" "$top/Ünïcödé/ゆめ.q"
  cp "$(ls samples/*.q | tail -1)" "$top/ゆめ Ünï.q"
  "$native" convert -r "$top" -d "$top-native-r" >/dev/null || exit 1
  "$native" convert "$top"/写真/*.gra "$top"/Ünïcödé/*.gra "$top"/*.q -d "$top-native-flat" \
    >/dev/null || exit 1
  export LC_ALL="$1"
  in_cmd "$(windows "$exe")" convert "$top\\写真\\*.GRA" "$top\\ünïcödé\\*.gra" "$top\\*.q" \
    -d "$top-flat"
  [ $? -eq 0 ] || fail "$1: convert with wildcards in $top: $(cat "$work/said")"
  same_pngs "$top-native-flat" "$top-flat"
  in_cmd "$(windows "$exe")" convert -r "$top" -d "$top-r"
  [ $? -eq 0 ] || fail "$1: convert -r $top: $(cat "$work/said")"
  same_pngs "$top-native-r" "$top-r"
  # Beside the pictures, under the same names.
  in_cmd "$(windows "$exe")" convert -r "$top"
  [ $? -eq 0 ] || fail "$1: convert -r $top (beside): $(cat "$work/said")"
  for name in "写真/絵はがき" "写真/下/夜景" "Ünïcödé/Café" "Ünïcödé/ゆめ" "ゆめ Ünï"; do
    [ -f "$top/$name.png" ] || fail "$1: $top/$name.png was not written beside its picture"
  done
  for name in "写真\\絵はがき" "Ünïcödé\\Café"; do
    in_cmd "$(windows "$exe")" info "$top\\$name.gra"
    grep '^  palette:' "$work/said" | grep -qF "$top\\$name.rgb" ||
      fail "$1: info does not name the palette file: $(cat "$work/said")"
    grep '^  4th plane:' "$work/said" | grep -qF "$top\\$name.e1" ||
      fail "$1: info does not name the fourth-plane file: $(cat "$work/said")"
  done
  export LC_ALL=C.UTF-8
}
names_in C.UTF-8 western
# Wine takes the code page from the locale's name and the arguments' characters from the
# locale itself: it is made here (the locales package), as no Japanese locale need be installed.
if localedef -i ja_JP -f UTF-8 "$work/locale/ja_JP.UTF-8" >/dev/null 2>&1; then
  export LOCPATH="$work/locale"
  names_in ja_JP.UTF-8 japanese
  unset LOCPATH
else
  fail "cannot make the ja_JP.UTF-8 locale for Wine (localedef, from the locales package)"
fi

# On a console (a terminal, which Wine makes a console of) the text goes out through
# WriteConsoleW: a Japanese name arrives whole, not as question marks or code-page bytes. Wine
# draws the console with escape sequences between the characters, so each is looked for alone.
if command -v script >/dev/null; then
  console="$(windows "$exe") info western\\写真\\絵はがき.gra"
  script -qec "'$runner' cmd /c $console" /dev/null </dev/null >"$work/screen" 2>&1
  for character in 写 真 絵 は が き; do
    grep -q "$character" "$work/screen" || fail "the console does not show $character: $(cat -v "$work/screen")"
  done
fi

# 3. A pattern that matches nothing is an error naming it; the rest is still converted.
in_cmd "$(windows "$exe")" convert "*.xyz" "samples\\*.q" -d none
status=$?
[ $status -eq 1 ] || fail "an unmatched pattern: exit $status, not 1"
grep -qx '\*.xyz: no file matches this pattern' "$work/said" ||
  fail "an unmatched pattern is not named: $(cat "$work/said")"
[ "$(ls none | wc -l)" -eq "$(ls samples/*.q | wc -l)" ] || fail "the Q samples were not converted beside the unmatched pattern"

# 4. Paths are shown with their separators, never escaped.
in_cmd "$(windows "$exe")" info "samples\\missing.gra"
grep -q '^samples\\missing.gra: ' "$work/said" || fail "a path is not shown as given: $(cat "$work/said")"
grep -q 'x5c' "$work/said" && fail "a backslash is escaped: $(cat "$work/said")"

# 5. Plug-in load errors in words.
own="${exe##*/}"
ext=$(cd "$bin" && ls gradec.sp? | head -1)
ext="${ext##*.}"
other=$([ "$ext" = sph ] && echo spi || echo sph)
bits=$([ "$ext" = sph ] && echo 64 || echo 32)
otherbits=$([ "$ext" = sph ] && echo 32 || echo 64)
mkdir alone
cp "$exe" alone/
in_cmd "$(windows "$work/alone/$own")" info "samples\\missing.gra"
[ $? -eq 1 ] || fail "planeconv without plug-ins does not fail"
grep -q "the plug-in gradec.$ext is not beside $own (in " "$work/said" ||
  fail "a missing plug-in is not said so: $(cat "$work/said")"
# A plug-in of the other width where this one is looked for: its headers name its machine.
cp "$bin/gradec.$ext" alone/gradec.$ext
python3 - "alone/gradec.$ext" <<'PY'
import struct, sys
path = sys.argv[1]
data = bytearray(open(path, "rb").read())
pe = struct.unpack_from("<I", data, 60)[0]
machine = struct.unpack_from("<H", data, pe + 4)[0]
struct.pack_into("<H", data, pe + 4, 0x8664 if machine == 0x14C else 0x14C)
open(path, "wb").write(data)
PY
in_cmd "$(windows "$work/alone/$own")" info "samples\\missing.gra"
grep -q "gradec.$ext: a plug-in for $otherbits-bit programs, and this $own is $bits-bit" "$work/said" ||
  fail "a plug-in of the other width is not said so: $(cat "$work/said")"
# Only the other width's plug-in in the folder.
rm "alone/gradec.$ext"
cp "$bin/gradec.$ext" "alone/gradec.$other"
in_cmd "$(windows "$work/alone/$own")" info "samples\\missing.gra"
grep -q "the folder holds gradec.$other, the plug-in for $otherbits-bit programs" "$work/said" ||
  fail "the other width's plug-in beside is not said so: $(cat "$work/said")"

[ $failed -eq 0 ] && echo "names, wildcards and load errors as a Windows user meets them: all as expected"
exit $failed
