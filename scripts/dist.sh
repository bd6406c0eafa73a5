#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# make dist: the release files of this checkout's version (the CMake project version) in dist/:
#   planeplugins-VERSION-windows.zip   x86/ (and x64/ when the win64 preset exists) plug-ins,
#                                      planeconv.exe and the WIC codec planewic.dll, README.txt
#                                      (CRLF) and LICENSE.txt
#   planeplugins-VERSION-setup.exe     with the win64 preset: the setup program for 64-bit Windows
#                                      (scripts/windows-setup.nsi) of the zip's files
#   planeplugins_VERSION_ARCH.deb      the Debian packages, every binary package of debian/control
#   planeplugins-qt5_VERSION_ARCH.deb  (the programs and desktop files, the Qt image plug-ins, the
#   planeplugins-qt6_VERSION_ARCH.deb  Python package), built by dpkg-buildpackage from a copy of
#   python3-planeplugins_VERSION_ARCH.deb  the checkout in build/deb (kept, so rebuilds are
#                                      incremental) and checked by lintian (errors fail)
#   planeplugins-VERSION-viewer.html   the single-file browser viewer (build/web/viewer.html)
#   planeplugins-VERSION.tar.gz        the source of HEAD, as git archive gives it
#   SHA256SUMS                         of all of the above
# The builds it packs (win32, win64 when there, web) are made first by the Makefile.
# Each file is made under a temporary name in dist/ and renamed, so none is ever half-written.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD

version=$(sed -n 's/^project(planeplugins VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)
[ -n "$version" ] || { echo "dist: no project version in CMakeLists.txt" >&2; exit 1; }
changelog=$(dpkg-parsechangelog -S Version)
[ "$changelog" = "$version" ] ||
  { echo "dist: debian/changelog is at $changelog, the project at $version: add an entry" >&2; exit 1; }

win64=0
grep -q '"name": *"win64"' CMakePresets.json && win64=1

need() {
  for f in "$@"; do
    [ -f "$f" ] || { echo "dist: $f is missing (build it first: make dist builds it)" >&2; exit 1; }
  done
}
need build/win32/bin/gradec.spi build/win32/bin/qdec.spi build/win32/bin/planeconv.exe \
     build/win32/bin/planewic.dll build/web/viewer.html
[ $win64 = 0 ] || need build/win64/bin/gradec.sph build/win64/bin/qdec.sph build/win64/bin/planeconv.exe \
                      build/win64/bin/planewic.dll

mkdir -p dist
scratch=$(mktemp -d "$root/build/dist-XXXXXX")
trap 'rm -rf "$scratch"; rm -f "$root"/dist/.*.part' EXIT
trap 'exit 130' INT TERM HUP

# publish NAME FILE: moves FILE to dist/NAME through a temporary name in dist/.
publish() {
  cp "$2" "dist/.$1.part"
  mv -f "dist/.$1.part" "dist/$1"
}

# Files of other versions go: dist/ holds one release.
find dist -maxdepth 1 -type f ! -name "*$version*" -delete

# The Windows zip.
zipdir=$scratch/zip
mkdir -p "$zipdir/x86"
cp build/win32/bin/gradec.spi build/win32/bin/qdec.spi build/win32/bin/planeconv.exe \
  build/win32/bin/planewic.dll "$zipdir/x86/"
if [ $win64 = 1 ]; then
  mkdir -p "$zipdir/x64"
  cp build/win64/bin/gradec.sph build/win64/bin/qdec.sph build/win64/bin/planeconv.exe \
    build/win64/bin/planewic.dll "$zipdir/x64/"
fi
sed "s/@VERSION@/$version/" scripts/windows-readme.txt | sed 's/$/\r/' >"$zipdir/README.txt"
sed 's/$/\r/' LICENSE >"$zipdir/LICENSE.txt"
touch -d "@$(git log -1 --format=%ct)" "$zipdir"/* "$zipdir"/*/*
zip_name=planeplugins-$version-windows.zip
(cd "$zipdir" && zip -q -X -r "$scratch/$zip_name" README.txt LICENSE.txt x86 $([ $win64 = 1 ] && echo x64))
publish "$zip_name" "$scratch/$zip_name"

# The setup program: the zip's files (the codec of each width among them).
setup_name=
if [ $win64 = 1 ]; then
  setup_name=planeplugins-$version-setup.exe
  makensis -V2 -DVERSION="$version" -DSOURCE="$zipdir" -DOUTFILE="$scratch/$setup_name" \
    scripts/windows-setup.nsi >"$scratch/makensis.log" 2>&1 ||
    { cat "$scratch/makensis.log" >&2; echo "dist: makensis failed" >&2; exit 1; }
  publish "$setup_name" "$scratch/$setup_name"
fi

# The Debian packages, from a copy of the checkout's files (tracked and new, as they are now).
debroot=build/deb
debsrc=$debroot/planeplugins-$version
mkdir -p "$debsrc"
git ls-files -z --cached --others --exclude-standard |
  tar --null -T - --ignore-failed-read -cf - 2>/dev/null | tar -xf - -C "$debsrc"
arch=$(dpkg --print-architecture)
deb_name=planeplugins_${version}_$arch.deb
rm -f "$debroot"/*_"${version}_$arch".deb
echo "dist: building the Debian packages (log: $debroot/build.log)"
if ! (cd "$debsrc" && dpkg-buildpackage -b -us -uc --no-pre-clean -j2) >"$debroot/build.log" 2>&1; then
  tail -n 40 "$debroot/build.log" >&2
  echo "dist: dpkg-buildpackage failed (whole log: $debroot/build.log)" >&2
  exit 1
fi
debs=()
for deb in "$debroot"/*_"${version}_$arch".deb; do
  case $deb in *-dbgsym_*) ;; *) debs+=("$(basename "$deb")") ;; esac
done
[ -f "$debroot/$deb_name" ] || { echo "dist: dpkg-buildpackage made no $deb_name" >&2; exit 1; }
echo "dist: lintian ${debs[*]}"
(cd "$debroot" && lintian --fail-on error --tag-display-limit 0 "${debs[@]}") |
  tee "$debroot/lintian.log" || { echo "dist: lintian found errors" >&2; exit 1; }
for deb in "${debs[@]}"; do publish "$deb" "$debroot/$deb"; done

# The viewer page and the source.
publish "planeplugins-$version-viewer.html" build/web/viewer.html
tar_name=planeplugins-$version.tar.gz
git archive --format=tar.gz --prefix="planeplugins-$version/" -o "$scratch/$tar_name" HEAD
publish "$tar_name" "$scratch/$tar_name"

(cd dist && sha256sum "$zip_name" $setup_name "${debs[@]}" "planeplugins-$version-viewer.html" "$tar_name" \
   >.SHA256SUMS.part && mv -f .SHA256SUMS.part SHA256SUMS)
echo "dist: $(cd dist && ls | tr '\n' ' ')in $root/dist"
