#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Removes exactly what `make install` put in place: the files `make install` recorded in the
# build folder (installed_COMPONENT.txt, one per component: the paths of cmake --install's
# manifest with DESTDIR in front), then the records. Folders stay, and so does anything at a
# listed path that is no longer a file or a link (it is named).
#
# A component whose install updated caches may ship BUILD/after_uninstall_COMPONENT.cmake; it
# runs (cmake -P, with DESTDIR and PREFIX in the environment) once the component's files are
# gone.
#
#   scripts/uninstall.sh BUILD_DIR [PREFIX]
set -uo pipefail
build="${1:?usage: uninstall.sh BUILD_DIR [PREFIX]}"
export PREFIX="${2:-/usr}"
shopt -s nullglob
manifests=("$build"/installed_*.txt)
if [ ${#manifests[@]} -eq 0 ]; then
  echo "uninstall: $build records no installation (no installed_*.txt); run it in the" \
       "tree that installed" >&2
  exit 1
fi
status=0
for manifest in "${manifests[@]}"; do
  failed=0
  while IFS= read -r file || [ -n "$file" ]; do
    [ -n "$file" ] || continue
    if [ -L "$file" ] || [ -f "$file" ]; then
      if rm -f -- "$file"; then echo "removed $file"; else failed=1; fi
    elif [ -e "$file" ]; then
      echo "uninstall: $file is not a file any more; left in place" >&2
      failed=1
    fi
  done <"$manifest"
  component=$(basename "$manifest" .txt)
  component=${component#installed_}
  if [ -f "$build/after_uninstall_$component.cmake" ]; then
    cmake -P "$build/after_uninstall_$component.cmake" || failed=1
  fi
  # Kept when something was left, so that uninstall can be run again.
  if [ $failed -eq 0 ]; then rm -f -- "$manifest"; else status=1; fi
done
exit $status
