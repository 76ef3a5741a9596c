#!/usr/bin/env bash
# Makes the Wine prefix that the Windows tests run in, once per build folder: the first program
# run in a new prefix fails while Wine is still making it. Without Mono and Gecko prompts.
set -euo pipefail
prefix=$1
export WINEPREFIX=$prefix
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml="
unset DISPLAY WAYLAND_DISPLAY
# A prefix made before the tests drew windows lacks the display driver line: made anew.
if [ -f "$prefix/.vantrel-ready" ] && grep -qx 'graphics=null' "$prefix/.vantrel-ready"; then
  exit 0
fi
rm -rf "$prefix"
mkdir -p "$prefix"
wineboot -i >/dev/null 2>&1
wineserver -w
# The tests drive dialogs in process without a display: Wine's null display driver gives them
# windows, messages and GDI with no X server. (The end-to-end run copies the prefix and puts
# the X11 driver back.)
wine reg add 'HKCU\Software\Wine\Drivers' /v Graphics /d null /f >/dev/null 2>&1
wineserver -w
[ -f "$prefix/drive_c/windows/system32/drivers/etc/hosts" ] || {
  echo "wine-prefix: no hosts file in the new prefix $prefix" >&2
  exit 1
}
echo graphics=null >"$prefix/.vantrel-ready"
