#!/usr/bin/env bash
# Runs a Windows program under Wine in the Wine prefix of the build folder it belongs to
# (<build>/wine-prefix), never in the user's own ~/.wine. The prefix is made by
# scripts/wine-prefix.sh before the first test. VANTREL_WINE_PREFIX overrides the prefix.
set -euo pipefail
program=$1
shift
if [ -z "${VANTREL_WINE_PREFIX:-}" ]; then
  # The build folder is the nearest folder above the program that holds CMakeCache.txt.
  dir=$(cd "$(dirname "$program")" && pwd)
  while [ "$dir" != / ] && [ ! -f "$dir/CMakeCache.txt" ]; do dir=$(dirname "$dir"); done
  [ -f "$dir/CMakeCache.txt" ] || { echo "wine-run: no build folder above $program" >&2; exit 2; }
  VANTREL_WINE_PREFIX=$dir/wine-prefix
fi
export WINEPREFIX=$VANTREL_WINE_PREFIX
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml="
# Without a display Wine draws windows with its null driver (scripts/wine-prefix.sh).
unset DISPLAY WAYLAND_DISPLAY
# The prefix's server, and Wine's own background processes (services, devices), outlive the
# program that started them and keep whatever output it had: handed CTest's pipe, they would
# make CTest wait for them. So the program writes to a file, shown once it has ended.
wineserver -p5 </dev/null >/dev/null 2>&1 || true
output=$(mktemp)
trap 'rm -f "$output"' EXIT
status=0
wine "$program" "$@" </dev/null >"$output" 2>&1 || status=$?
cat "$output"
exit $status
