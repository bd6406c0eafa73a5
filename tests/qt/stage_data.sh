#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# A data folder (for XDG_DATA_DIRS) whose MIME database is the system's with planes.xml added,
# as installing to /usr or the Debian package makes it. Qt's MIME database takes a type's
# contents rule only from one folder's database: with planes.xml in a database of its own
# before the system's, Qt names a GRA picture after the system's other *.gra type.
#   stage_data.sh OUT_DIR PLANES_XML [--mirror]
# --mirror: also links every other entry of /usr/share into OUT_DIR, so that OUT_DIR alone can
# stand for /usr/share (for whole desktop programs).
set -euo pipefail
out="$1"
planes="$2"
system=/usr/share
rm -rf "$out"
mkdir -p "$out/mime/packages"
cp "$system"/mime/packages/*.xml "$out/mime/packages/"
cp "$planes" "$out/mime/packages/"
PKGSYSTEM_ENABLE_FSYNC=0 XDG_DATA_DIRS="$out" update-mime-database "$out/mime" >/dev/null
if [ "${3:-}" = "--mirror" ]; then
  for entry in "$system"/*; do
    [ "$(basename "$entry")" = mime ] || ln -s "$entry" "$out/"
  done
fi
