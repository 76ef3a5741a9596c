#!/usr/bin/env bash
# Makes the Wine prefix that the Windows tests run in, once per build folder: the first program
# run in a new prefix fails while Wine is still making it. Without Mono and Gecko prompts.
set -euo pipefail
prefix=$1
export WINEPREFIX=$prefix
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml="
unset DISPLAY WAYLAND_DISPLAY
if [ -f "$prefix/.vantrel-ready" ]; then
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
touch "$prefix/.vantrel-ready"
