#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# KDE's image viewer, started fresh under Xvfb with the built Qt 5 plug-in, opens the test card
# beside its palette and fourth-plane files, then gradient.q; each time the screen must show
# planeconv's rendering of the picture pixel for pixel (the viewer shows a picture smaller than
# its window unscaled), and the screenshot is saved as OUT_DIR/gwenview-NAME.png. Then the
# folder of both, in the viewer's browse mode, as OUT_DIR/gwenview-folder.png.
#
# The viewer reads a file whole and hands Qt the bytes in a buffer, not the file: its view of
# the card has no name to find the companions by, and shows what planeconv makes of the card
# alone. Its thumbnails are read by file name.
# Skipped (77) where gwenview or Xvfb is not installed (make test-gwenview installs them).
#   gwenview_screenshot.sh SOURCE_DIR BUILD_DIR SCREEN_CHECK OUT_DIR
set -euo pipefail
source_dir=$1
build=$2
screen_check=$3
out=$4
for program in gwenview Xvfb; do
  command -v $program >/dev/null || { echo "SKIPPED: no $program (make test-gwenview installs it)"; exit 77; }
done
scratch=$(mktemp -d)
xvfb=""
viewer=""
cleanup() {
  [ -z "$viewer" ] || kill "$viewer" 2>/dev/null || true
  [ -z "$xvfb" ] || kill "$xvfb" 2>/dev/null || true
  wait 2>/dev/null || true
  rm -rf "$scratch"
}
trap cleanup EXIT
mkdir -p "$out" "$scratch/pictures" "$scratch/home"

# A fresh user (no settings, caches or own types), and /usr/share with the system's MIME database
# plus planes.xml in place of the system's, as an install to /usr has it.
"$source_dir/tests/qt/stage_data.sh" "$scratch/share" "$build/pixbuf/planes.xml" --mirror
export HOME=$scratch/home XDG_CONFIG_HOME=$scratch/home/.config XDG_CACHE_HOME=$scratch/home/.cache \
       XDG_DATA_HOME=$scratch/home/.local/share XDG_RUNTIME_DIR=$scratch/runtime \
       XDG_DATA_DIRS=$scratch/share QT_PLUGIN_PATH=$build/qt/qt5 QT_QPA_PLATFORM=xcb
mkdir -m 700 -p "$XDG_RUNTIME_DIR"
cp "$source_dir"/samples/card.{gra,rgb,e1} "$source_dir/samples/gradient.q" "$scratch/pictures/"
# planeconv's rendering of each, the card without its companions.
cp "$source_dir/samples/card.gra" "$scratch/home/"
"$build/tools/planeconv" convert "$scratch/home/card.gra" "$scratch/pictures/gradient.q" \
  -d "$scratch" >/dev/null

Xvfb -displayfd 3 -screen 0 1400x900x24 -nolisten tcp 3>"$scratch/display" 2>"$scratch/xvfb.log" &
xvfb=$!
for _ in $(seq 50); do [ -s "$scratch/display" ] && break; sleep 0.1; done
[ -s "$scratch/display" ] || { cat "$scratch/xvfb.log"; echo "FAIL: Xvfb did not start"; exit 1; }
export DISPLAY=:$(cat "$scratch/display")

failed=0
for name in card.gra gradient.q; do
  gwenview -qwindowgeometry 1400x900+0+0 "$scratch/pictures/$name" >"$scratch/gwenview.log" 2>&1 &
  viewer=$!
  shown=""
  # Until the picture is on the screen, or 30 s.
  for _ in $(seq 30); do
    sleep 1
    if shown=$("$screen_check" "$scratch/screen.png" "$scratch/${name%.*}.png"); then break; fi
  done
  cp "$scratch/screen.png" "$out/gwenview-${name%.*}.png"
  if [[ $shown == found* ]]; then
    echo "gwenview shows $name as planeconv renders it ($shown): $out/gwenview-${name%.*}.png"
  else
    echo "FAIL: gwenview does not show $name as planeconv renders it; see $out/gwenview-${name%.*}.png"
    tail -20 "$scratch/gwenview.log"
    failed=1
  fi
  kill "$viewer" 2>/dev/null || true
  wait "$viewer" 2>/dev/null || true
  viewer=""
done
# The folder in browse mode: the thumbnails, once they are made.
gwenview -qwindowgeometry 1400x900+0+0 "$scratch/pictures/" >"$scratch/gwenview.log" 2>&1 &
viewer=$!
sleep 15
"$screen_check" "$scratch/screen.png" && cp "$scratch/screen.png" "$out/gwenview-folder.png" ||
  { echo "FAIL: no screenshot of the folder"; failed=1; }
exit $failed
