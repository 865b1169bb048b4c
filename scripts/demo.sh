#!/usr/bin/env bash
# A whole run of setup.exe, for real: builds it for a local package server, serves a sample
# package slowly enough to watch the progress, runs setup.exe under Wine and lets it launch
# the package. With a DISPLAY the windows show there; otherwise they run in a headless X
# server and screenshots are saved. Stops everything it started.
set -euo pipefail
cd "$(dirname "$0")/.."
WITH_WINE32=0 bash scripts/install-deps.sh

port=${DEMO_PORT:-47811}
build=build/demo
out=$PWD/$build/artifacts
cmake -S . -B "$build" --toolchain cmake/mingw-x86_64.cmake -DWEB_HOST="127.0.0.1:$port" -DBUILD_TESTING=OFF >/dev/null
cmake --build "$build" -j"$(nproc)" --target setup sample_package
mkdir -p "$out"

session=$build/wine
server_pid=
cleanup() {
  [ -n "$server_pid" ] && kill "$server_pid" 2>/dev/null || true
  scripts/wine-session.sh stop "$session"
}
trap cleanup EXIT
[ -n "${DISPLAY:-}" ] && export VISIBLE=1
eval "$(scripts/wine-session.sh start "$session")"

# 1.5 MB at 300 kB/s: about five seconds of progress.
/usr/bin/python3 tests/e2e/package_server.py --port "$port" --package "$build/sample_package.exe" \
  --size 1500000 --rate 300000 < <(sleep 600) &
server_pid=$!
sleep 1

echo "Running setup.exe against http://127.0.0.1:$port ..."
"$WINE64" "$build/setup.exe" &
setup_pid=$!

shot() { [ "${VISIBLE:-0}" = 1 ] || import -window root "$out/$1.png"; }
wait_window() {  # caption, seconds
  for _ in $(seq "$(($2 * 5))"); do
    xdotool search --name "$1" >/dev/null 2>&1 && return 0
    sleep 0.2
  done
  return 1
}

if wait_window '^Install$' 20; then
  sleep 2
  shot dialog-downloading
  echo "The install dialog is downloading."
fi
if wait_window '^Brelmora Installer$' 60; then
  sleep 1
  shot package-launched
  echo "setup.exe launched the downloaded package: it says the product was installed."
  [ "${VISIBLE:-0}" = 1 ] && echo "Close its window to end the demo." || {
    xdotool key --window "$(xdotool search --name '^Brelmora Installer$' | tail -1)" Return || true; }
  for _ in $(seq 600); do xdotool search --name '^Brelmora Installer$' >/dev/null 2>&1 || break; sleep 0.2; done
else
  echo "The package window did not appear." >&2
fi
for _ in $(seq 150); do kill -0 "$setup_pid" 2>/dev/null || break; sleep 0.2; done
kill "$setup_pid" 2>/dev/null || true
[ "${VISIBLE:-0}" = 1 ] || echo "Screenshots: $out"
