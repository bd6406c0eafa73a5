#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# make install's desktop part, staged into a scratch DESTDIR under another prefix: the two
# modules, the MIME package, the thumbnailer with its entry and manual page, and the image
# viewers' entries land where they belong, the thumbnailer's entry names it where the prefix
# puts it (not where DESTDIR stages it), and with DESTDIR set no cache of the running system is
# touched. Then the viewers' entries as a desktop reads them once a package's trigger has
# indexed them: `gio mime image/x-gra` names the entry of a viewer that is installed (a stand-in
# eog here, unless the real one is), and none when no viewer is.
# Usage: install_check.sh BUILD_DIR MODULE_DIR (the module folder relative to the prefix)
set -euo pipefail
build=$1
module_dir=$2
stage=$(mktemp -d)
trap 'rm -rf "$stage"' EXIT

output=$(DESTDIR="$stage" cmake --install "$build" --component desktop --prefix /opt/planes 2>&1) || {
  echo "cmake --install failed:"; echo "$output"; exit 1
}
failed=0
for file in "$module_dir/libpixbufloader-gra.so" "$module_dir/libpixbufloader-q.so" \
            share/mime/packages/planes.xml share/thumbnailers/planes.thumbnailer bin/planethumb \
            share/man/man1/planethumb.1 share/applications/planeplugins-eog.desktop; do
  if [ ! -f "$stage/opt/planes/$file" ]; then
    echo "missing: /opt/planes/$file"
    failed=1
  fi
done
if ! grep -q "DESTDIR is set: the loader and MIME caches are not updated" <<<"$output"; then
  echo "no word of the caches being left alone:"; echo "$output"; failed=1
fi
if [ -e "$stage/opt/planes/share/mime/mime.cache" ]; then
  echo "the MIME database was rebuilt inside DESTDIR"; failed=1
fi
entry=$stage/opt/planes/share/thumbnailers/planes.thumbnailer
for line in "TryExec=/opt/planes/bin/planethumb" "Exec=/opt/planes/bin/planethumb -s %s %u %o"; do
  if ! grep -qxF "$line" "$entry" 2>/dev/null; then
    echo "the entry lacks the line $line"; failed=1
  fi
done
if [ -e "$stage/opt/planes/share/applications/mimeinfo.cache" ]; then
  echo "the desktop entries' cache was rebuilt inside DESTDIR"; failed=1
fi
viewers=("$stage"/opt/planes/share/applications/planeplugins-*.desktop)
if [ "$(find "$stage" -type f | wc -l)" -ne $((6 + ${#viewers[@]})) ]; then
  echo "unexpected files:"; find "$stage" -type f; failed=1
fi

# The viewers' entries: valid, and offered for both types once indexed.
if ! command -v update-desktop-database >/dev/null; then
  echo "no update-desktop-database (desktop-file-utils): the viewers' entries are not checked"
  exit 1
fi
for entry in "${viewers[@]}"; do
  desktop-file-validate "$entry" || { echo "$entry is not a valid desktop entry"; failed=1; }
  grep -qx "MimeType=image/x-gra;image/x-q-picture;" "$entry" || { echo "$entry lacks the types"; failed=1; }
done
data=$(mktemp -d)
trap 'rm -rf "$stage" "$data"' EXIT
cp -r "$stage/opt/planes/share" "$data/share"
update-desktop-database "$data/share/applications"
mkdir -p "$data/home" "$data/config" "$data/bin" "$data/none"
printf '#!/bin/sh\nexit 0\n' >"$data/bin/eog"
chmod +x "$data/bin/eog"
desktop() {  # a desktop of the staged data and the system's, with no user's choices
  env XDG_DATA_DIRS="$data/share:/usr/share" XDG_DATA_HOME="$data/home" \
      XDG_CONFIG_HOME="$data/config" XDG_CONFIG_DIRS="$data/config" "$@"
}
viewer_path=$data/bin:$PATH
command -v eog >/dev/null && viewer_path=$PATH
for type in image/x-gra image/x-q-picture; do
  said=$(desktop env PATH="$viewer_path" gio mime "$type")
  if ! grep -q "Default application for .$type.: planeplugins-eog.desktop" <<<"$said"; then
    echo "gio mime $type with eog installed says:"; echo "$said"; failed=1
  fi
done
installed=""
for entry in "${viewers[@]}"; do
  program=$(sed -n 's/^TryExec=//p' "$entry")
  command -v "$program" >/dev/null && installed+=" $program"
done
if [ -z "$installed" ]; then
  said=$(desktop env PATH="$data/none:/usr/bin:/bin" gio mime image/x-gra)
  if ! grep -q "No default applications" <<<"$said"; then
    echo "gio mime image/x-gra without any viewer installed says:"; echo "$said"; failed=1
  fi
fi
exit $failed
