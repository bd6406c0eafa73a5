#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# The Debian packages on this machine, as a user gets them: installed with apt-get, then
#   - planeconv and planethumb at the package's version with their manual pages, planeconv info
#     on a sample;
#   - the installed thumbnailer entry's command on a GRA picture with its palette and
#     fourth-plane files: pixel for pixel planeconv's PNG of it (which the companions change);
#   - the loader cache listing both modules, gdk-pixbuf-thumbnailer decoding a Q picture through
#     them exactly, gio naming both MIME types and an image viewer for each;
#   - the Qt packages' plug-ins in each Qt's plug-in folder, read through by the native build's
#     Qt tests (every sample from a file, a pipe and a buffer; Qt's MIME database naming both
#     types) where that build has them;
#   - with python3-planeplugins: Debian's Python opening the GRA picture with its companions
#     through Pillow as planeconv converts it;
# then purged: no file of them left, the loader cache without the modules, the types gone.
# Needs root (skipped without); refuses to run when the package is installed already, and
# purges it on the way out whatever happened, so the machine is left as it was.
# Usage: package_test.sh PACKAGE.deb [QT_PACKAGE.deb...] [PYTHON_PACKAGE.deb]
set -euo pipefail
deb=$(realpath "$1")
qt_debs=()
python_deb=""
for extra in "${@:2}"; do
  case $(dpkg-deb -f "$extra" Package) in
    python3-*) python_deb=$(realpath "$extra") ;;
    *) qt_debs+=("$(realpath "$extra")") ;;
  esac
done
source_dir=$(realpath "$(dirname "$0")/../..")
if [ "$(id -u)" -ne 0 ]; then
  echo "test-package: SKIPPED: installing and purging the Debian package needs root"
  exit 0
fi
name=$(dpkg-deb -f "$deb" Package)
version=$(dpkg-deb -f "$deb" Version)
names=("$name")
qt_names=()
for qt_deb in "${qt_debs[@]}"; do qt_names+=("$(dpkg-deb -f "$qt_deb" Package)"); done
names+=("${qt_names[@]}")
[ -z "$python_deb" ] || names+=("$(dpkg-deb -f "$python_deb" Package)")
for package in "${names[@]}"; do
  if dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q installed; then
    echo "test-package: $package is installed on this machine already; not touching it" >&2
    exit 1
  fi
done
cache=$(pkg-config --variable=gdk_pixbuf_cache_file gdk-pixbuf-2.0)
scratch=$(mktemp -d)
export DEBIAN_FRONTEND=noninteractive
purge() { apt-get purge -y -qq "${names[@]}" >/dev/null 2>&1 || true; }
trap 'purge; rm -rf "$scratch"' EXIT
trap 'exit 130' INT TERM HUP
failed=0
fail() { echo "FAIL: $*"; failed=1; }

apt-get install -y -qq "$deb" "${qt_debs[@]}" ${python_deb:+"$python_deb"} >"$scratch/apt.log" 2>&1 ||
  { cat "$scratch/apt.log"; exit 1; }
for package in "${names[@]}"; do dpkg -L "$package"; done >"$scratch/files"

[ "$(planeconv --version)" = "planeconv $version" ] || fail "planeconv --version: $(planeconv --version)"
[ "$(planethumb --version)" = "planethumb $version" ] || fail "planethumb --version: $(planethumb --version)"
# The manual pages as man finds them: each program's own, with its commands and options.
for program in planeconv planethumb; do
  page=$(man -w "$program" 2>/dev/null) || { fail "man finds no page of $program"; continue; }
  [ "$page" = "/usr/share/man/man1/$program.1.gz" ] || fail "man finds $program's page at $page"
done
man_planeconv=$(MANWIDTH=100 man planeconv 2>/dev/null)
for word in "planeconv convert [OPTIONS]" "--keep-extension" "EXIT STATUS"; do
  grep -qF -- "$word" <<<"$man_planeconv" || fail "man planeconv lacks \"$word\""
done
MANWIDTH=100 man planethumb 2>/dev/null | grep -qF -- "--size" || fail "man planethumb lacks --size"
[ -f "/usr/share/doc/$name/copyright" ] && grep -q "^License: Expat" "/usr/share/doc/$name/copyright" ||
  fail "no licence in /usr/share/doc/$name/copyright"

# A picture with its companions, in a folder with a space, and the same picture alone.
mkdir -p "$scratch/with companions" "$scratch/alone"
cp "$source_dir"/samples/card.{gra,rgb,e1} "$scratch/with companions/"
cp "$source_dir/samples/card.gra" "$scratch/alone/"
cp "$source_dir/samples/gradient.q" "$scratch/"
picture="$scratch/with companions/card.gra"

info=$(planeconv info "$picture") || fail "planeconv info failed: $info"
grep -q "640 x 400" <<<"$info" && grep -q "card.rgb" <<<"$info" || fail "planeconv info said: $info"

# The entry's Exec line, its %s %u %o filled in as a file manager does (size 640: the picture
# itself), run as it stands.
entry=/usr/share/thumbnailers/planes.thumbnailer
exec_line=$(sed -n 's/^Exec=//p' "$entry")
uri=$(python3 -c 'import pathlib,sys; print(pathlib.Path(sys.argv[1]).as_uri())' "$picture")
read -r -a words <<<"$exec_line"
command=()
for word in "${words[@]}"; do
  case "$word" in
    %s) command+=(640) ;;
    %u) command+=("$uri") ;;
    %o) command+=("$scratch/thumbnail.png") ;;
    *) command+=("$word") ;;
  esac
done
"${command[@]}" || fail "the entry's command (${command[*]}) failed"
planeconv convert "$picture" -o "$scratch/reference.png" >/dev/null 2>&1 || fail "planeconv convert card.gra failed"
planeconv convert "$scratch/alone/card.gra" -o "$scratch/alone.png" >/dev/null 2>&1 || fail "planeconv convert of the lone card.gra failed"

# same_pixels A B: whether two PNGs hold the same RGB pixels (tests/web/png.mjs reads them).
same_pixels() {
  node --input-type=module -e '
    import { readFileSync } from "node:fs";
    import { readPng } from "'"$source_dir"'/tests/web/png.mjs";
    const [a, b] = process.argv.slice(1).map((p) => readPng(readFileSync(p)));
    const same = a.width === b.width && a.height === b.height &&
      a.rgba.every((v, i) => v === b.rgba[i]);
    process.exit(same ? 0 : 1);' "$1" "$2"
}
if [ -f "$scratch/thumbnail.png" ]; then
  same_pixels "$scratch/thumbnail.png" "$scratch/reference.png" ||
    fail "the thumbnail's pixels are not planeconv's"
  ! same_pixels "$scratch/alone.png" "$scratch/reference.png" ||
    fail "the companions change nothing in card.gra: the thumbnail check proves nothing"
fi

# The loader modules through gdk-pixbuf's own cache and thumbnailer.
for module in libpixbufloader-gra.so libpixbufloader-q.so; do
  grep -q "/$module\"" "$cache" || fail "$cache does not list $module"
done
planeconv convert "$scratch/gradient.q" -o "$scratch/q-reference.png" >/dev/null 2>&1 || fail "planeconv convert gradient.q failed"
if gdk-pixbuf-thumbnailer -s 640 "$scratch/gradient.q" "$scratch/q-thumbnail.png"; then
  same_pixels "$scratch/q-thumbnail.png" "$scratch/q-reference.png" ||
    fail "gdk-pixbuf-thumbnailer's pixels of gradient.q are not planeconv's"
else
  fail "gdk-pixbuf-thumbnailer could not read gradient.q"
fi

content_type() { gio info -a standard::content-type "$1" | sed -n 's/^ *standard::content-type: //p'; }
[ "$(content_type "$picture")" = image/x-gra ] || fail "gio: card.gra is $(content_type "$picture")"
[ "$(content_type "$scratch/gradient.q")" = image/x-q-picture ] ||
  fail "gio: gradient.q is $(content_type "$scratch/gradient.q")"

# A double-click: the installed entries offer both types to an image viewer (a stand-in eog
# where the real one is not installed), once desktop-file-utils' trigger has indexed them.
mkdir -p "$scratch/bin" "$scratch/home" "$scratch/config"
printf '#!/bin/sh\nexit 0\n' >"$scratch/bin/eog"
chmod +x "$scratch/bin/eog"
viewer_path=$scratch/bin:$PATH
command -v eog >/dev/null && viewer_path=$PATH
for type in image/x-gra image/x-q-picture; do
  said=$(env XDG_DATA_HOME="$scratch/home" XDG_CONFIG_HOME="$scratch/config" PATH="$viewer_path" \
    gio mime "$type" 2>&1)
  grep -q "Default application for .$type.: planeplugins-eog.desktop" <<<"$said" ||
    fail "gio mime $type: $said"
done

# The Qt plug-ins, each where its Qt looks, read through by the native build's Qt tests.
multiarch=$(dpkg-architecture -qDEB_HOST_MULTIARCH)
for package in "${qt_names[@]}"; do
  major=${package##*-qt}
  plugins=/usr/lib/$multiarch/qt$major/plugins
  [ -f "$plugins/imageformats/planeplugins.so" ] || { fail "$package: no $plugins/imageformats/planeplugins.so"; continue; }
  tests=$source_dir/build/native/tests/qt/qt$major/qt${major}_image_tests
  if [ -x "$tests" ]; then
    PLANES_QT_PLUGIN_ROOT=$plugins "$tests" --gtest_brief=1 --gtest_filter='Pictures/*:Listing.*' \
      >"$scratch/qt$major.log" 2>&1 || { cat "$scratch/qt$major.log"; fail "$package: the Qt $major tests"; }
  else
    echo "test-package: $tests is not built; the Qt $major plug-in is only checked to be there"
  fi
done
# The Python package, as Debian's Python finds it installed (from a folder of its own, with no
# PYTHONPATH), reading the picture with its companions as planeconv does.
if [ -n "$python_deb" ]; then
  python=$(cd "$scratch" && env -u PYTHONPATH /usr/bin/python3 -c '
import sys, planeplugins
from PIL import Image
assert planeplugins.__file__.startswith("/usr/lib/python3/dist-packages/"), planeplugins.__file__
image, reference = Image.open(sys.argv[1]), Image.open(sys.argv[2])
assert image.convert("RGB").tobytes() == reference.convert("RGB").tobytes(), "pixels differ"
print(image.mode, image.size, image.getpalette()[:6])' "$picture" "$scratch/reference.png" 2>&1) ||
    fail "the Python package: $python"
  echo "test-package: card.gra in Python: $python"
fi

# Purged: nothing of it left, the caches without it.
apt-get purge -y -qq "${names[@]}" >"$scratch/apt.log" 2>&1 || { cat "$scratch/apt.log"; fail "apt-get purge failed"; }
for package in "${names[@]}"; do
  ! dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q installed || fail "$package is still installed"
done
while read -r path; do
  [ -d "$path" ] || [ ! -e "$path" ] || fail "$path is left after purge"
done <"$scratch/files"
for module in libpixbufloader-gra.so libpixbufloader-q.so; do
  ! grep -q "/$module\"" "$cache" || fail "$cache still lists $module after purge"
done
[ ! -e /usr/share/mime/image/x-gra.xml ] || fail "the MIME database still knows image/x-gra after purge"

[ $failed = 0 ] && echo "test-package: ${names[*]} $version installed, used and purged: all checks passed"
exit $failed
