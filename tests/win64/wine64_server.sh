#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Starts and stops the Wine server of the test run's 64-bit prefix (WINEPREFIX), so that each
# test program under 64-bit Wine starts in well under a second instead of about 3 seconds.
#   wine64_server.sh start   # makes the prefix when it is missing (about 10 s), starts the server
#   wine64_server.sh stop    # stops the server and every Wine process of the prefix
# The server ends by itself a minute after its last program, should stop never come. Where
# 64-bit Wine cannot run there is nothing to start or stop: the tests report themselves skipped.
set -uo pipefail
if ! (. "$(dirname "$0")/wine64_common.sh") >/dev/null; then
  echo "64-bit Wine cannot run here: nothing to ${1:-do}"
  exit 0
fi
. "$(dirname "$0")/wine64_common.sh"

case "${1:-}" in
  start)
    mkdir -p "$(dirname "$WINEPREFIX")"
    log="$WINEPREFIX.log"
    # Started with no tie to the caller's output: Wine's services outlive this script, and a
    # test runner would otherwise wait for them to close its pipes.
    "$server" -p60 </dev/null >"$log" 2>&1
    if ! "$wine" wineboot --init </dev/null >>"$log" 2>&1; then
      echo "64-bit Wine could not set up $WINEPREFIX (see $log)"
      exit 1
    fi
    echo "Wine server of $WINEPREFIX started"
    ;;
  stop)
    "$server" -k </dev/null >/dev/null 2>&1
    "$server" -w </dev/null >/dev/null 2>&1
    echo "Wine server of $WINEPREFIX stopped"
    ;;
  *)
    echo "usage: wine64_server.sh start|stop" >&2
    exit 2
    ;;
esac
