#!/usr/bin/env bash
# End to end on a virtual display with a window manager: vantrel.exe under Wine against the
# Wine prefix's own system hosts file; the splash dismissed by a key, the toggle clicked with
# xdotool twice and the hosts bytes checked after each click; Settings and the system menu's
# About box opened. Screenshots of each are kept in the output folder.
# Usage: e2e_windows.sh <vantrel.exe> <the build's Wine prefix> <folder for the screenshots>
set -euo pipefail
exe=$(realpath "$1")
base_prefix=$(realpath "$2")
out=$(realpath "${3:-.}")
here=$(cd "$(dirname "$0")" && pwd)
src=$(cd "$here/../../.." && pwd)
for tool in Xvfb xdotool import openbox wine; do
  command -v "$tool" >/dev/null || { echo "SKIP: $tool is not installed"; exit 77; }
done

work=$(mktemp -d)
prefix="$work/prefix"
xvfb_pid="" wm_pid="" app_pid=""
cleanup() {
  [ -n "$app_pid" ] && kill "$app_pid" 2>/dev/null || true
  WINEPREFIX="$prefix" wineserver -k 2>/dev/null || true
  [ -n "$wm_pid" ] && kill "$wm_pid" 2>/dev/null || true
  [ -n "$xvfb_pid" ] && kill "$xvfb_pid" 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT
fail() {
  echo "FAIL: $*"
  import -window root "$out/e2e-win-failure.png" 2>/dev/null || true
  [ -s "$work/app.log" ] && sed 's/^/  vantrel.exe: /' "$work/app.log"
  exit 1
}
trap 'fail "command at line $LINENO failed"' ERR

# Wait up to `2` seconds (default 15) for a condition.
wait_for() {
  local tries=$(( ${2:-15} * 10 ))
  for _ in $(seq "$tries"); do
    if eval "$1"; then return 0; fi
    sleep 0.1
  done
  return 1
}

# The build's prefix, copied: its own server and desktop, on this display (the prefix's display
# drivers are X11, else null). The user starts with nothing stored: what other tests left in the
# program's key goes.
cp -a "$base_prefix" "$prefix"
sed -i -e '/^\[Software\\\\Vantrel\]/,/^$/d' "$prefix/user.reg"
export WINEPREFIX="$prefix" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
unset VANTREL_HOSTS_FILE WAYLAND_DISPLAY
hosts="$prefix/drive_c/windows/system32/drivers/etc/hosts"

Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp 3>"$work/display" 2>/dev/null &
xvfb_pid=$!
wait_for '[ -s "$work/display" ]' || fail "Xvfb did not start"
export DISPLAY=":$(head -n1 "$work/display")"
openbox --config-file "$here/openbox-rc.xml" >/dev/null 2>&1 &
wm_pid=$!

mkdir "$work/wd"
cp "$src/res/vantrel_settings.txt" "$src/res/help.txt" "$work/wd/"
printf '127.0.0.1 localhost\r\n::1 localhost\r\n' >"$hosts"
cp "$hosts" "$work/hosts.before"
{
  cat "$work/hosts.before"
  printf '# Begin Vantrel\r\n'
  # The settings file's lines with CR LF, and the empty line its last break makes.
  sed 's/$/\r/' "$work/wd/vantrel_settings.txt"
  printf '\r\n# End Vantrel'
} >"$work/hosts.added"

(cd "$work/wd" && exec wine "$exe" >"$work/app.log" 2>&1) &
app_pid=$!

main=$(timeout 60 xdotool search --sync --onlyvisible --name '^Vantrel$' | head -n1) ||
  fail "the main dialog did not appear"
# The splash is the program's window of the picture's size and a border.
splash_shown() {
  local w
  for w in $(xdotool search --onlyvisible --class 'vantrel.exe' 2>/dev/null); do
    xdotool getwindowgeometry "$w" 2>/dev/null | grep -q 'Geometry: 332x192' && return 0
  done
  return 1
}
wait_for splash_shown 10 || fail "the splash did not appear"
sleep 0.3
import -window root "$out/e2e-win-splash.png"
# A key dismisses the splash and nothing else: the toggle under it keeps the file as it was.
xdotool key space
wait_for '! splash_shown' 2 ||
  fail "a key press did not dismiss the splash"
sleep 0.5
cmp -s "$hosts" "$work/hosts.before" || fail "the key that dismissed the splash changed the hosts file"

# Where a control of the template is, in screen pixels: dialog units scaled by the dialog's size.
# (xwininfo's absolute corner: xdotool counts the window manager's frame in twice.)
X=$(xwininfo -id "$main" | awk '/Absolute upper-left X/ {print $NF}')
Y=$(xwininfo -id "$main" | awk '/Absolute upper-left Y/ {print $NF}')
WIDTH=$(xwininfo -id "$main" | awk '/Width:/ {print $NF}')
HEIGHT=$(xwininfo -id "$main" | awk '/Height:/ {print $NF}')
click_du() {  # x y w h in dialog units
  local x=$(( X + ($1 + $3 / 2) * WIDTH / 355 )) y=$(( Y + ($2 + $4 / 2) * HEIGHT / 252 ))
  xdotool mousemove --sync "$x" "$y" click 1
}
# Pixels of exactly this colour in a screenshot (the status line's text).
count_colour() {
  convert "$1" -fill black +opaque "$2" -fill white -opaque "$2" -format '%[fx:int(mean*w*h+0.5)]' info:
}

import -window root "$out/e2e-win-main-red.png"
[ "$(count_colour "$out/e2e-win-main-red.png" '#FF0000')" -gt 50 ] ||
  fail "no red status line at the start"

click_du 7 224 58 21
wait_for 'cmp -s "$hosts" "$work/hosts.added"' 10 || {
  cp "$hosts" "$out/e2e-win-hosts-after-first-click"
  fail "the first click did not add the block byte for byte"
}
sleep 0.5
import -window root "$out/e2e-win-main-green.png"
[ "$(count_colour "$out/e2e-win-main-green.png" '#007D00')" -gt 50 ] ||
  fail "no green status line after hiding the ads"

click_du 7 224 58 21
wait_for 'cmp -s "$hosts" "$work/hosts.before"' 10 ||
  fail "the second click did not restore the hosts file byte for byte"
sleep 0.5
[ "$(count_colour "$(import -window root "$work/red.png"; echo "$work/red.png")" '#FF0000')" -gt 50 ] ||
  fail "no red status line after showing the ads again"

click_du 70 224 57 21
settings=$(timeout 15 xdotool search --sync --onlyvisible --name '^Vantrel Settings$' | head -n1) ||
  fail "Settings did not open its dialog"
sleep 0.5
import -window root "$out/e2e-win-settings.png"
xdotool windowactivate --sync "$settings" key Escape
wait_for "! xdotool search --onlyvisible --name '^Vantrel Settings\$' >/dev/null" 10 ||
  fail "Escape did not close the settings dialog"
cmp -s "$work/wd/vantrel_settings.txt" "$src/res/vantrel_settings.txt" ||
  fail "closing the settings dialog with Escape changed the settings file"

# The system menu (Alt+Space), its last entry: the About box. The keys that choose the entry are
# sent only once the menu's window shows: sent before, Enter would press the toggle.
program_windows() { xdotool search --onlyvisible --class 'vantrel.exe' 2>/dev/null | wc -l; }
before=$(program_windows)
xdotool windowactivate --sync "$main" key alt+space
wait_for '[ "$(program_windows)" -gt "$before" ]' 10 || fail "Alt+Space did not open the system menu"
sleep 0.2
xdotool key Up Return
about=$(timeout 15 xdotool search --sync --onlyvisible --name '^About Vantrel$' | head -n1) ||
  fail "the system menu's last entry did not open the About box"
sleep 0.5
import -window root "$out/e2e-win-about.png"
xdotool windowactivate --sync "$about" key Return
wait_for "! xdotool search --onlyvisible --name '^About Vantrel\$' >/dev/null" 10 ||
  fail "Enter did not close the About box"

# Exit ends the program.
click_du 291 225 57 20
wait_for '! kill -0 "$app_pid" 2>/dev/null' 15 || fail "Exit did not end the program"
app_pid=""
cmp -s "$hosts" "$work/hosts.before" || fail "the hosts file changed on the way out"
echo "PASS: splash, toggle twice byte for byte, settings, About, Exit; screenshots in $out/e2e-win-*.png"
