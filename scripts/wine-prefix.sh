#!/usr/bin/env bash
# Makes the Wine prefix that the Windows tests run in, once per build folder: the first program
# run in a new prefix fails while Wine is still making it. Without Mono and Gecko prompts.
# Windows are drawn through X11 when a test gives a display (the end-to-end runs on Xvfb), and
# otherwise by Wine's null display driver, so that in-process tests can make and drive windows
# without any X server.
set -euo pipefail
prefix=$1
export WINEPREFIX=$prefix
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml="
unset DISPLAY WAYLAND_DISPLAY
ready="graphics x11,null"
if [ "$(cat "$prefix/.vantrel-ready" 2>/dev/null)" = "$ready" ]; then
  exit 0
fi
rm -rf "$prefix"
mkdir -p "$prefix"
wineboot -i >/dev/null 2>&1
wineserver -w
[ -f "$prefix/drive_c/windows/system32/drivers/etc/hosts" ] || {
  echo "wine-prefix: no hosts file in the new prefix $prefix" >&2
  exit 1
}
wine reg add 'HKCU\Software\Wine\Drivers' /v Graphics /d x11,null /f >/dev/null 2>&1
wineserver -w
echo "$ready" >"$prefix/.vantrel-ready"
