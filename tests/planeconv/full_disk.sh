#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# planeconv convert onto a full disk, as a user meets it: eight pictures into a tmpfs with room
# for two PNGs. The batch stops at the first output that does not fit with one message naming
# it and the cause, the summary says it stopped, the exit code is 1, the finished outputs stay
# whole and no temporary file is left. The tmpfs is mounted in a mount namespace of this test's
# own (unshare -rm); where the system allows none, the test is skipped (exit 77).
#   full_disk.sh PLANECONV SAMPLES_DIR
set -uo pipefail
planeconv=$1
samples=$2
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }

mkdir -p "$work/in" "$work/out"
for i in 1 2 3 4 5 6 7 8; do cp "$samples/gradient.q" "$work/in/p$i.q"; done
"$planeconv" convert "$work/in/p1.q" -o "$work/reference.png" -q || fail "converting p1.q"
size=$(stat -c %s "$work/reference.png")
# Two PNGs in whole pages, and less than a page more.
pages=$(( (size + 4095) / 4096 ))
room=$(( 2 * pages * 4096 + 2048 ))

if ! unshare -rm true 2>/dev/null; then
  echo "SKIPPED: no mount namespace can be made here (unshare -rm)"
  exit 77
fi
# shellcheck disable=SC2016
unshare -rm bash -c '
  mount -t tmpfs -o size="$1" none "$2/out" || exit 99
  "$3" convert "$2"/in/*.q -d "$2/out" -j 2 >"$2/stdout" 2>"$2/stderr"
  echo $? >"$2/status"
  ls -A "$2/out" >"$2/listing"
  for png in "$2"/out/*.png; do cmp -s "$png" "$2/reference.png" || echo "$png" >>"$2/damaged"; done
' full_disk "$room" "$work" "$planeconv"
[ $? -ne 99 ] || { echo "SKIPPED: no tmpfs can be mounted here"; exit 77; }

cat "$work/stderr"
[ "$(cat "$work/status")" = 1 ] || fail "exit code $(cat "$work/status"), not 1"
full_lines=$(grep -c "No space left on device" "$work/stderr")
[ "$full_lines" = 1 ] || fail "$full_lines messages of the full disk, not one"
grep -q "^$work/in/p[0-9].q: $work/out/p[0-9].png: cannot write (No space left on device); stopping here$" \
  "$work/stderr" || fail "the message does not name the file and the cause"
grep -q "converted 2 of 8 pictures to PNG in .* s, 1 failed, stopped: no room for more$" \
  "$work/stderr" || fail "the summary does not say the run stopped"
[ "$(grep -c . "$work/stderr")" = 2 ] || fail "more than the message and the summary"
[ "$(grep -c '\.png$' "$work/listing")" = 2 ] || fail "not the two PNGs that fit: $(cat "$work/listing")"
! grep -v '\.png$' "$work/listing" || fail "temporary files left on the full disk"
[ ! -e "$work/damaged" ] || fail "damaged outputs: $(cat "$work/damaged")"
echo "full disk: the batch stopped after 2 of 8 pictures with one message"
