# SPDX-License-Identifier: MIT
# Shared by the scripts that run 64-bit Wine for the tests (sourced): finds 64-bit Wine and its
# server, or exits 77 (a skipped test) where it cannot run: not installed, or a loader that
# fails to start.
wine="${WINE64:-}"
if [ -z "$wine" ]; then
  wine=/usr/lib/wine/wine64
  [ -x "$wine" ] || wine=$(command -v wine64 || true)
fi
if [ -z "$wine" ]; then
  echo "skipped: 64-bit Wine (wine64) is not installed"
  exit 77
fi
if ! version=$("$wine" --version 2>&1); then
  echo "skipped: 64-bit Wine cannot run on this machine: $version"
  exit 77
fi
server="${WINESERVER:-}"
if [ -z "$server" ]; then
  if [ -x "$(dirname "$wine")/wineserver64" ]; then server="$(dirname "$wine")/wineserver64"
  else server=$(command -v wineserver || echo wineserver); fi
fi
export WINEDEBUG="${WINEDEBUG:--all}"
export WINEDLLOVERRIDES="${WINEDLLOVERRIDES:-mscoree,mshtml=}"
: "${WINEPREFIX:?WINEPREFIX names the 64-bit Wine prefix of the build}"
export WINEPREFIX
