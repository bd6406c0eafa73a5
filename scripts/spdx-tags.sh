#!/usr/bin/env bash
# The licence tag "SPDX-License-Identifier: MIT" at the top of each source file, as a comment of
# the file's own kind:
#   scripts/spdx-tags.sh           adds it where it is missing (running it again changes nothing)
#   scripts/spdx-tags.sh --check   lists the files without it and fails if there are any
# The kinds of file, and where the tag goes in each, are the table below: a file kind that is
# not listed is not looked at, so a new kind of source file is added here.
# Where the first line must stay first (#!, <?xml, <!DOCTYPE), the tag goes on the second line.
set -euo pipefail
cd "$(dirname "$0")/.."
tag="SPDX-License-Identifier: MIT"

mode=add
case "${1:-}" in
  --check) mode=check ;;
  "") ;;
  *) echo "usage: scripts/spdx-tags.sh [--check]" >&2; exit 2 ;;
esac

# comment_for FILE: the tag as a comment line of FILE's kind; nothing for kinds not tagged.
comment_for() {
  case "$1" in
    *.cpp | *.h | *.c | *.mjs | *.js | *.rc | *.rc.in | *.h.in) echo "// $tag" ;;
    *.css) echo "/* $tag */" ;;
    *.html | *.xml) echo "<!-- $tag -->" ;;
    CMakeLists.txt | */CMakeLists.txt | *.cmake | *.sh | *.py | Makefile | debian/rules) echo "# $tag" ;;
    *.thumbnailer.in) echo "# $tag" ;;
    *) ;;
  esac
}

# The sources: what git tracks or would track (not the ignored builds and third-party code).
missing=0
while IFS= read -r -d '' file; do
  [ -f "$file" ] || continue
  case "$file" in
    */node_modules/* | fuzz/corpus/* | samples/* | tests/*/data/*) continue ;;
  esac
  comment=$(comment_for "$file")
  [ -n "$comment" ] || continue
  if head -n 3 "$file" | grep -qF "$tag"; then
    continue
  fi
  if [ $mode = check ]; then
    echo "no SPDX tag: $file"
    missing=$((missing + 1))
    continue
  fi
  first=$(head -n 1 "$file")
  temporary=$(mktemp "$file.XXXXXX")
  case "$first" in
    '#!'* | '<?xml'* | '<!DOCTYPE'* | '<!doctype'*)
      { printf '%s\n%s\n' "$first" "$comment"; tail -n +2 "$file"; } >"$temporary" ;;
    *)
      { printf '%s\n' "$comment"; cat "$file"; } >"$temporary" ;;
  esac
  chmod --reference="$file" "$temporary"
  mv -f "$temporary" "$file"
  echo "tagged: $file"
done < <(git ls-files -z --cached --others --exclude-standard)

if [ $mode = check ]; then
  if [ $missing -gt 0 ]; then
    echo "$missing source files lack the line '$tag' (scripts/spdx-tags.sh adds it)"
    exit 1
  fi
  echo "every source file carries its SPDX tag"
fi
