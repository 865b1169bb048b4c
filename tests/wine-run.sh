#!/usr/bin/env bash
# Runs a Windows test program under 64-bit Wine: ctest's emulator for the cross build.
# The test command (scripts/test.sh) prepares WINEPREFIX and DISPLAY once per run.
set -eu
if [ -z "${WINEPREFIX:-}" ] || [ -z "${DISPLAY:-}" ]; then
  echo "wine-run.sh: WINEPREFIX and DISPLAY are not set; run the tests through scripts/test.sh" >&2
  exit 2
fi
export WINEDEBUG=${WINEDEBUG:--all}
exec /usr/lib/wine/wine64 "$@"
