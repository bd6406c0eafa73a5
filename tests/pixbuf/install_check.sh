#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# make install's desktop part, staged into a scratch DESTDIR under another prefix: the two
# modules, the MIME package, the thumbnailer and its entry land where they belong, the entry
# names the thumbnailer where the prefix puts it (not where DESTDIR stages it), and with
# DESTDIR set no cache of the running system is touched.
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
            share/mime/packages/planes.xml share/thumbnailers/planes.thumbnailer bin/planethumb; do
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
if [ "$(find "$stage" -type f | wc -l)" -ne 5 ]; then
  echo "unexpected files:"; find "$stage" -type f; failed=1
fi
exit $failed
