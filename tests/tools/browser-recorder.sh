#!/bin/sh
# Stands in for the web browser of a Wine prefix: registered as the prefix's browser
# (HKCU\Software\Wine\WineBrowser, value Browsers), it is run by winebrowser with the URL that a
# Windows program asked the shell to open, and appends that URL as one line to the log
# $BROWSER_RECORDER_LOG, by default $WINEPREFIX/drive_c/recorder/browser.log.
log=${BROWSER_RECORDER_LOG:-${WINEPREFIX:-$HOME/.wine}/drive_c/recorder/browser.log}
mkdir -p "$(dirname "$log")"
for url in "$@"; do
  printf '%s\n' "$url" >> "$log"
done
exit 0
