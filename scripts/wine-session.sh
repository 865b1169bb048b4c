#!/usr/bin/env bash
# One Wine session for a whole test run: a 64-bit prefix (made once, kept between runs),
# a headless X server and a persistent wineserver, so that each Windows process starts fast.
#
#   scripts/wine-session.sh start DIR   prints shell assignments to eval (WINEPREFIX, DISPLAY, ...)
#   scripts/wine-session.sh stop DIR    stops the X server and the wineserver it started
# With VISIBLE=1 and a DISPLAY, the windows go to that display instead of a headless one.
set -euo pipefail

cmd=${1:?start|stop}
dir=$(realpath -m "${2:?state directory}")
mkdir -p "$dir"

export WINEPREFIX=$dir/prefix64
export WINEARCH=win64
export WINEDEBUG=${WINEDEBUG:--all}
# No Mono or Gecko installer prompts: nothing here needs them.
export WINEDLLOVERRIDES="mscoree=;mshtml="
wine=/usr/lib/wine/wine64

case "$cmd" in
start)
  if [ "${VISIBLE:-0}" = 1 ] && [ -n "${DISPLAY:-}" ]; then
    echo "$DISPLAY" > "$dir/display"  # show the windows on the caller's display
  elif [ ! -f "$dir/xvfb.pid" ] || ! kill -0 "$(cat "$dir/xvfb.pid")" 2>/dev/null; then
    fifo=$dir/displayfd
    rm -f "$fifo"; mkfifo "$fifo"
    Xvfb -displayfd 5 -screen 0 1024x768x24 -nolisten tcp 5>"$fifo" >"$dir/xvfb.log" 2>&1 &
    echo $! > "$dir/xvfb.pid"
    read -r -t 20 display < "$fifo"
    rm -f "$fifo"
    echo ":$display" > "$dir/display"
  fi
  export DISPLAY=$(cat "$dir/display")
  if [ ! -f "$WINEPREFIX/system.reg" ]; then
    "$wine" wineboot -i >"$dir/wineboot.log" 2>&1
    wineserver -w  # let the server that made the prefix end before ours starts
  fi
  wineserver -p >>"$dir/wineserver.log" 2>&1 || true  # already persistent when the session was started before
  "$wine" wineboot >/dev/null 2>&1 || true
  printf 'export WINEPREFIX=%q WINEARCH=win64 WINEDEBUG=%q WINEDLLOVERRIDES=%q DISPLAY=%q WINE64=%q\n' \
    "$WINEPREFIX" "$WINEDEBUG" "$WINEDLLOVERRIDES" "$DISPLAY" "$wine"
  ;;
stop)
  wineserver -k 2>/dev/null || true
  wineserver -w 2>/dev/null || true
  if [ -f "$dir/xvfb.pid" ]; then
    kill "$(cat "$dir/xvfb.pid")" 2>/dev/null || true
    rm -f "$dir/xvfb.pid"
  fi
  ;;
*) echo "usage: $0 start|stop DIR" >&2; exit 2 ;;
esac
