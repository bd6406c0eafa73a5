#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# The route without installing of docs/desktop.md, as written: its two export lines, taken from
# that file itself and run in the project root, then its checks by hand, and what the route must
# keep within reach: the system's own gdk-pixbuf modules and GSettings schemas.
# Usage: readme_route.sh SOURCE_DIR BUILD_DIR PLANECONV
set -euo pipefail
source_dir=$1
build_dir=$2
planeconv=$3
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
cd "$source_dir"

exports=$(grep -E '^    export (GDK_PIXBUF_MODULE_FILE|XDG_DATA_DIRS)=' docs/desktop.md | sed 's/^    //')
if [ "$(grep -c . <<<"$exports")" -ne 2 ]; then
  echo "docs/desktop.md: the two export lines of \"Without installing\" are not there"; exit 1
fi
# The notes speak of the native preset's build folder; another build folder stands in for it.
exports=${exports//\$PWD\/build\/native/$build_dir}
export XDG_DATA_HOME=$scratch/data-home  # none of the user's own types
eval "$exports"

failed=0
fail() { echo "$*"; failed=1; }

# PNG width and height from the IHDR chunk.
png_size() { od -An -tu1 -j16 -N8 "$1" | awk '{print $3*256+$4 " x " $7*256+$8}'; }

type=$(gio info samples/card.gra | grep 'standard::content-type:' | cut -d' ' -f4)
[ "$type" = image/x-gra ] || fail "gio info gives \"$type\" for samples/card.gra"
if command -v mimetype >/dev/null; then
  type=$(xdg-mime query filetype samples/card.gra)
  [ "$type" = image/x-gra ] || fail "xdg-mime gives \"$type\" for samples/card.gra"
fi

if gdk-pixbuf-thumbnailer -s 256 samples/gradient.q "$scratch/thumb.png"; then
  size=$(png_size "$scratch/thumb.png")
  [ "$size" = "256 x 160" ] || fail "the notes' thumbnail is $size, not 256 x 160"
else
  fail "gdk-pixbuf-thumbnailer failed on samples/gradient.q"
fi

# A format of the system's own modules still opens: BMP.
"$planeconv" convert samples/gradient.q -o "$scratch/gradient.bmp" --format bmp >/dev/null
gdk-pixbuf-thumbnailer -s 64 "$scratch/gradient.bmp" "$scratch/bmp.png" ||
  fail "a BMP file no longer opens: the system's modules are not listed"

# GTK programs need the system's GSettings schemas to start.
if command -v gsettings >/dev/null && [ -e /usr/share/glib-2.0/schemas/gschemas.compiled ]; then
  # (not piped into grep -q: with pipefail, gsettings killed by the closed pipe would fail it)
  [ -n "$(gsettings list-schemas)" ] || fail "no GSettings schemas are found"
fi
exit $failed
