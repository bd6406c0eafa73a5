#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# What make dist wrote, as a user receives it: the files of the project's version and no others,
# SHA256SUMS matching them, the zip's exact file list, each DLL's machine type and version
# resource, README.txt and LICENSE.txt with CRLF line ends, the source tarball's contents, the
# viewer page's footer, and the Debian changelog at the project's version.
# Usage: dist_check.sh (from anywhere; reads the checkout's dist/)
set -euo pipefail
cd "$(dirname "$0")/../.."
version=$(sed -n 's/^project(planeplugins VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)
IFS=. read -r major minor patch <<<"$version"
arch=$(dpkg --print-architecture)
win64=0
grep -q '"name": *"win64"' CMakePresets.json && win64=1
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
failed=0
fail() { echo "FAIL: $*"; failed=1; }

zip=planeplugins-$version-windows.zip
deb=planeplugins_${version}_$arch.deb
qt_debs="planeplugins-qt5_${version}_$arch.deb planeplugins-qt6_${version}_$arch.deb"
python_deb=python3-planeplugins_${version}_$arch.deb
page=planeplugins-$version-viewer.html
tarball=planeplugins-$version.tar.gz

# The release's files and nothing else; the sums cover each of them.
setup=
[ $win64 = 0 ] || setup=planeplugins-$version-setup.exe
want=$(printf '%s\n' SHA256SUMS "$deb" $qt_debs "$python_deb" "$page" "$tarball" "$zip" $setup | sort)
have=$(ls dist | sort)
[ "$have" = "$want" ] || fail "dist/ holds [$(echo $have)], want [$(echo $want)]"
summed=$(awk '{print $2}' dist/SHA256SUMS | sort)
[ "$summed" = "$(grep -vx SHA256SUMS <<<"$want")" ] || fail "SHA256SUMS lists [$(echo $summed)]"
(cd dist && sha256sum --quiet -c SHA256SUMS) || fail "SHA256SUMS does not match the files"

# The zip: its exact list, then what is in it.
want_zip="LICENSE.txt README.txt x86/gradec.spi x86/planeconv.exe x86/planewic.dll x86/qdec.spi"
[ $win64 = 0 ] || want_zip="$want_zip x64/gradec.sph x64/planeconv.exe x64/planewic.dll x64/qdec.sph"
want_zip=$(tr ' ' '\n' <<<"$want_zip" | sort)
have_zip=$(unzip -Z1 "dist/$zip" | grep -v '/$' | sort)
[ "$have_zip" = "$want_zip" ] || fail "the zip holds [$(echo $have_zip)], want [$(echo $want_zip)]"
unzip -q "dist/$zip" -d "$scratch/zip"

for text in README.txt LICENSE.txt; do
  file=$scratch/zip/$text
  lines=$(wc -l <"$file")
  crlf=$(grep -c $'\r$' "$file" || true)
  [ "$lines" -gt 0 ] && [ "$crlf" = "$lines" ] && [ "$(tail -c 2 "$file" | od -An -c | tr -d ' ')" = '\r\n' ] ||
    fail "$text: $crlf of $lines lines end in CRLF (or the last line has no end)"
done
grep -q "planeplugins $version" "$scratch/zip/README.txt" || fail "README.txt does not name version $version"
for folder in 'x86\' 'x64\' 'planeconv convert'; do
  grep -qF "$folder" "$scratch/zip/README.txt" || fail "README.txt says nothing of $folder"
done
cmp -s <(tr -d '\r' <"$scratch/zip/LICENSE.txt") LICENSE || fail "LICENSE.txt is not LICENSE"

# check_binary FILE FORMAT TOOL-PREFIX: the machine type (the PE format) objdump reads, and for
# a DLL its version resource as windres decompiles it, string table included.
check_binary() {
  local file=$1 format=$2 tools=$3 headers rc
  headers=$("$tools-objdump" -f "$file")
  grep -q "file format $format\$" <<<"$headers" || fail "$file: not $format: $(grep 'file format' <<<"$headers")"
  case "$file" in *.exe) return ;; esac
  rc=$("$tools-windres" -i "$file" -O rc) || { fail "$file: windres cannot read its resources"; return; }
  local line
  for line in "FILEVERSION $major, $minor, $patch, 0" "PRODUCTVERSION $major, $minor, $patch, 0" \
              'VALUE "FileVersion", "'"$version"'"' 'VALUE "ProductVersion", "'"$version"'"' \
              'VALUE "ProductName", "planeplugins"' \
              'VALUE "LegalCopyright", "Copyright (c) the planeplugins authors. MIT License."' \
              "FILETYPE 0x2" "STRINGTABLE" '1026, "*.'; do
    grep -qF "$line" <<<"$rc" || fail "$file: the resources lack $line"
  done
}
for f in gradec.spi qdec.spi planeconv.exe; do
  check_binary "$scratch/zip/x86/$f" pei-i386 i686-w64-mingw32
done
if [ $win64 = 1 ]; then
  for f in gradec.sph qdec.sph planeconv.exe; do
    check_binary "$scratch/zip/x64/$f" pei-x86-64 x86_64-w64-mingw32
  done
fi

# The source tarball: git archive's, under the versioned folder, licence and packaging in.
tar -tzf "dist/$tarball" >"$scratch/tarball.list"
for f in LICENSE CMakeLists.txt debian/control debian/rules README.md; do
  grep -qx "planeplugins-$version/$f" "$scratch/tarball.list" || fail "the tarball lacks $f"
done
[ "$(grep -vc "^planeplugins-$version/" "$scratch/tarball.list")" = 0 ] ||
  fail "the tarball holds files outside planeplugins-$version/"

# The page names the version in its footer; the Debian changelog is at it too.
grep -qF "planeplugins <span id=\"version\">$version</span>" "dist/$page" ||
  fail "the viewer page's footer does not name $version"
[ "$(dpkg-parsechangelog -S Version)" = "$version" ] ||
  fail "debian/changelog is at $(dpkg-parsechangelog -S Version), the project at $version"
[ "$(dpkg-deb -f "dist/$deb" Version)" = "$version" ] || fail "$deb is not at version $version"

[ $failed = 0 ] && echo "dist/ of planeplugins $version: all checks passed"
exit $failed
