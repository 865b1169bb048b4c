#!/usr/bin/env bash
# One 32-bit Wine session for a whole test run: a win32 prefix (made once, kept between runs),
# an X display and a persistent wineserver, so that Wine's services start only once.
#
#   scripts/wine32-session.sh start DIR   prints shell assignments to eval (WINEPREFIX, DISPLAY, WINE32, ...)
#   scripts/wine32-session.sh stop DIR    stops the wineserver and the X server it started
#
# Wine's 32-bit loader is an i386 Linux binary; on hosts without 32-bit kernel support it runs
# under qemu-i386 through binfmt_misc (see scripts/install-deps.sh). Everything is slow there:
# a new prefix takes minutes and so does a Windows process started while Wine's services come up.
# Progress and timings go to DIR/session.log.
#
# If DISPLAY is set and answers, that display is used; otherwise a private Xvfb is started.
set -euo pipefail

cmd=${1:?start|stop}
dir=$(realpath -m "${2:?state directory}")
mkdir -p "$dir"

export WINEPREFIX=$dir/prefix32
export WINEARCH=win32
export WINEDEBUG=${WINEDEBUG:--all}
# No Mono or Gecko installer prompts: nothing here needs them.
export WINEDLLOVERRIDES="mscoree=;mshtml="
# The 64-bit server serves 32-bit clients natively; the i386 one would run under qemu.
export WINESERVER=/usr/lib/wine/wineserver64
wine=/usr/lib/wine/wine
# Upper bounds for the slow steps, in seconds.
boot_timeout=${WINE32_BOOT_TIMEOUT:-1500}

log() { printf '%s %s\n' "$(date +%T)" "$*" >>"$dir/session.log"; }

check_host() {
  [ -x "$wine" ] || { echo "wine32 is not installed ($wine missing)" >&2; exit 1; }
  if [ ! -e /proc/sys/fs/binfmt_misc/qemu-i386 ] && ! "$wine" --version >/dev/null 2>&1; then
    echo "32-bit Linux binaries do not run here and no qemu-i386 binfmt handler is registered" >&2
    exit 1
  fi
}

case "$cmd" in
start)
  check_host
  if [ -n "${DISPLAY:-}" ] && [ ! -f "$dir/xvfb.pid" ] && xdpyinfo >/dev/null 2>&1; then
    log "using the existing display $DISPLAY"
  else
    if [ ! -f "$dir/xvfb.pid" ] || ! kill -0 "$(cat "$dir/xvfb.pid")" 2>/dev/null; then
      fifo=$dir/displayfd
      rm -f "$fifo"; mkfifo "$fifo"
      Xvfb -displayfd 5 -screen 0 1024x768x24 -nolisten tcp 5>"$fifo" >"$dir/xvfb.log" 2>&1 &
      echo $! > "$dir/xvfb.pid"
      read -r -t 20 display < "$fifo"
      rm -f "$fifo"
      echo ":$display" > "$dir/display"
      log "started Xvfb on :$display"
    fi
    DISPLAY=$(cat "$dir/display"); export DISPLAY
  fi
  mkdir -p "$WINEPREFIX"
  # A server that is still shutting down makes "-p" fail: wait for it once. A second failure
  # means a persistent server of an earlier "start" is up, which is what we want anyway.
  if ! "$WINESERVER" -p >/dev/null 2>&1; then
    timeout 120 "$WINESERVER" -w >/dev/null 2>&1 || true
    "$WINESERVER" -p >/dev/null 2>&1 || log "wineserver -p failed twice; using the running server"
  fi
  if [ ! -f "$WINEPREFIX/system.reg" ] || [ ! -f "$WINEPREFIX/.created" ]; then
    log "creating prefix $WINEPREFIX"
    t0=$(date +%s)
    if ! timeout "$boot_timeout" "$wine" wineboot -i >"$dir/wineboot.log" 2>&1; then
      log "prefix creation failed or timed out after $(( $(date +%s) - t0 ))s"
      echo "creating the 32-bit prefix failed; see $dir/wineboot.log" >&2
      exit 1
    fi
    touch "$WINEPREFIX/.created"
    log "prefix created in $(( $(date +%s) - t0 ))s"
  fi
  # Bring up Wine's services (services.exe, explorer.exe...) once; they stay while the server does.
  t0=$(date +%s)
  timeout "$boot_timeout" "$wine" wineboot >/dev/null 2>&1 || true
  log "services up in $(( $(date +%s) - t0 ))s"
  printf 'export WINEPREFIX=%q WINEARCH=win32 WINEDEBUG=%q WINEDLLOVERRIDES=%q WINESERVER=%q DISPLAY=%q WINE32=%q\n' \
    "$WINEPREFIX" "$WINEDEBUG" "$WINEDLLOVERRIDES" "$WINESERVER" "$DISPLAY" "$wine"
  ;;
stop)
  "$WINESERVER" -k 2>/dev/null || true
  timeout 120 "$WINESERVER" -w 2>/dev/null || true
  if [ -f "$dir/xvfb.pid" ]; then
    kill "$(cat "$dir/xvfb.pid")" 2>/dev/null || true
    rm -f "$dir/xvfb.pid"
  fi
  log "stopped"
  ;;
*) echo "usage: $0 start|stop DIR" >&2; exit 2 ;;
esac
