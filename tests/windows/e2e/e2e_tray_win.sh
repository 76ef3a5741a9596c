#!/usr/bin/env bash
# The Windows tray under Wine on a virtual display with an XEmbed tray host (trayer), in a copy
# of the build's prefix with the hosts file service installed: the icon appears and is red, the
# menu's Hide and Show change the prefix's hosts file to the bytes the window's toggle writes (and
# the icon follows), a second --tray adds no icon, "Start with my desktop" writes the HKCU Run
# entry; another program's edit in place or replacement turns the icon red. One Vantrel per
# session: a window started beside the tray is the tray's process's, and a tray started beside a
# window joins the window's process; closing the window keeps the tray, the tray's Exit ends both.
# Usage: e2e_tray_win.sh <vantrel.exe> <the build's Wine prefix> <folder for the screenshots>
set -euo pipefail
exe=$(realpath "$1")
base_prefix=$(realpath "$2")
out=$(realpath "${3:-.}")
src=$(cd "$(dirname "$0")/../../.." && pwd)
for tool in Xvfb trayer xdotool xwininfo import wine; do
  command -v "$tool" >/dev/null || { echo "SKIP: $tool is not installed"; exit 77; }
done
work=$(mktemp -d)
xvfb_pid="" trayer_pid=""
cleanup() {
  WINEPREFIX="$work/prefix" wineserver -k 2>/dev/null || true
  for pid in "$trayer_pid" "$xvfb_pid"; do [ -n "$pid" ] && kill "$pid" 2>/dev/null || true; done
  rm -rf "$work"
}
trap cleanup EXIT
fail() { echo "FAIL: $*"; cat "$work/wine.log" 2>/dev/null | tail -n 5; import -window root "$out/e2e-win-tray-failure.png" 2>/dev/null || true; exit 1; }
trap 'fail "command at line $LINENO failed"' ERR
wait_for() {
  for _ in $(seq 150); do
    if eval "$1"; then return 0; fi
    sleep 0.1
  done
  return 1
}

cp -a "$base_prefix" "$work/prefix"
export WINEPREFIX="$work/prefix" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
unset VANTREL_HOSTS_FILE WAYLAND_DISPLAY
hosts="$WINEPREFIX/drive_c/windows/system32/drivers/etc/hosts"
mkdir "$work/app"
cp "$exe" "$(dirname "$exe")/vantrel-service.exe" "$src/res/vantrel_settings.txt" "$work/app/"
cp "$hosts" "$work/hosts.before"
{
  cat "$work/hosts.before"
  printf '# Begin Vantrel\r\n'
  # The settings file's lines (CR LF), and the empty line its last break makes.
  sed 's/$/\r/' "$work/app/vantrel_settings.txt"
  printf '\r\n# End Vantrel'
} >"$work/hosts.added"

Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp 3>"$work/display" 2>/dev/null &
xvfb_pid=$!
wait_for '[ -s "$work/display" ]' || fail "Xvfb did not start"
export DISPLAY=":$(head -n1 "$work/display")"
trayer --edge top --align right --widthtype request --height 32 --expand false 2>/dev/null &
trayer_pid=$!
# The hosts file service, as the setup installs it, once the display is there (Wine's
# notification area lives in the first program that starts): the tray's presses go through it.
wine "$work/app/vantrel-service.exe" -install >/dev/null 2>&1 || fail "the service did not install"
wait_for 'wine sc query VantrelHosts 2>/dev/null | grep -q RUNNING' || fail "the service did not start"

panel() { xdotool search --name '^panel$' | head -n1; }
icons() {
  local p
  p=$(panel) && [ -n "$p" ] || { echo 0; return; }
  xwininfo -tree -id "$p" | grep -c '"explorer.exe"' || true
}
colour() {
  eval "$(xdotool getwindowgeometry --shell "$(panel)")"
  local hist
  hist=$(import -window root -crop "${WIDTH}x${HEIGHT}+${X}+${Y}" -format %c histogram:info:-)
  if grep -qF '#FFFF00000000' <<<"$hist"; then echo red; elif grep -qF '#00007D7D0000' <<<"$hist"; then
    echo green; else echo unknown; fi
}
menu() {
  eval "$(xdotool getwindowgeometry --shell "$(panel)")"
  xdotool mousemove $((X + WIDTH - 12)) $((Y + HEIGHT / 2)) click 3
  sleep 1
  [ "${2:-}" = shot ] && import -window root "$out/e2e-win-tray-menu.png"
  for _ in $(seq "$1"); do xdotool key Down; done
  xdotool key Return
}
hosts_is() { wait_for "cmp -s \"$hosts\" \"$work/hosts.$1\"" || fail "the hosts file is not $1 $2"; }

wine "$work/app/vantrel.exe" --tray >"$work/wine.log" 2>&1 &
wait_for '[ "$(icons)" -eq 1 ]' || fail "no tray icon appeared"
wait_for '[ "$(colour)" = red ]' || fail "the icon is not red at the start"
menu 1 shot
hosts_is added "after the menu's Hide ads"
wait_for '[ "$(colour)" = green ]' || fail "the icon did not turn green"
menu 1
hosts_is before "after the menu's Show ads"
wait_for '[ "$(colour)" = red ]' || fail "the icon did not turn red"

timeout 30 wine "$work/app/vantrel.exe" --tray || fail "the second --tray failed"
sleep 1
[ "$(icons)" -eq 1 ] || fail "a second --tray added an icon"
xdotool key Escape

# Another program takes the block out, by an edit in place and by a replacement: the icon turns
# red by itself (the time it took is printed, not asserted).
for how in "in place" "by a replacement"; do
  menu 1
  hosts_is added "after the menu's Hide ads"
  wait_for '[ "$(colour)" = green ]' || fail "the icon did not turn green"
  start=$(date +%s%N)
  if [ "$how" = "in place" ]; then
    cat "$work/hosts.before" >"$hosts"
  else
    cp "$work/hosts.before" "$hosts.new" && mv -f "$hosts.new" "$hosts"
  fi
  wait_for '[ "$(colour)" = red ]' || fail "the icon did not turn red after an edit $how"
  echo "the icon turned red $(( ($(date +%s%N) - start) / 1000000 )) ms after an edit $how"
  xdotool key Escape
done

menu 6
wait_for 'wine reg query "HKCU\\Software\\Microsoft\\Windows\\CurrentVersion\\Run" /v "Vantrel tray" 2>/dev/null | grep -q -- "--tray"' ||
  fail "no Run entry after Start with my desktop"

# The program's processes in this prefix (a Wine process's command line starts with its path).
processes() {
  local p n=0
  for p in $(pgrep -f '^(/|[A-Z]:\\)[^ ]*vantrel\.exe'); do
    tr '\0' '\n' <"/proc/$p/environ" 2>/dev/null | grep -qxF "WINEPREFIX=$WINEPREFIX" && n=$((n + 1))
  done
  echo "$n"
}
main_window() { xdotool search --onlyvisible --name '^Vantrel$' 2>/dev/null | head -n1; }
# The splash: the program's window of the picture's size and a border.
splash() {
  local w
  for w in $(xdotool search --onlyvisible --class 'vantrel.exe' 2>/dev/null); do
    xdotool getwindowgeometry "$w" 2>/dev/null | grep -q 'Geometry: 332x192' && { echo "$w"; return 0; }
  done
  return 1
}
# Closes the main window with Escape, once a click has dismissed its splash.
close_window() {
  wait_for 'splash >/dev/null' || fail "the window showed no splash"
  eval "$(xdotool getwindowgeometry --shell "$(splash)")"
  xdotool mousemove $((X + WIDTH / 2)) $((Y + HEIGHT / 2)) click 1
  wait_for '! splash >/dev/null' || fail "a click did not dismiss the splash"
  xdotool windowfocus --sync "$(main_window)" key Escape
  wait_for '[ -z "$(main_window)" ]' || fail "Escape did not close the window"
}
[ "$(processes)" -eq 1 ] || fail "not one vantrel.exe beside the tray: $(pgrep -af "vantrel\\.exe")"

# The window started beside the tray: the start hands it over and ends; one process shows both.
timeout 30 wine "$work/app/vantrel.exe" || fail "the window's start beside the tray failed"
wait_for '[ -n "$(main_window)" ]' || fail "no window after the start beside the tray"
import -window root "$out/e2e-win-tray-window.png"
[ "$(processes)" -eq 1 ] || fail "a second vantrel.exe runs beside the tray: $(pgrep -af "vantrel\\.exe")"
close_window
sleep 0.5
[ "$(icons)" -eq 1 ] && [ "$(processes)" -eq 1 ] || fail "closing the window ended the tray"
menu 7
wait_for '[ "$(processes)" -eq 0 ]' || fail "the tray's Exit did not end Vantrel"

# The other way: the window first, then --tray adds the icon to its process; the tray's Exit ends
# the window too.
wine "$work/app/vantrel.exe" >>"$work/wine.log" 2>&1 &
wait_for '[ -n "$(main_window)" ]' || fail "the window did not open"
timeout 30 wine "$work/app/vantrel.exe" --tray || fail "--tray beside the window failed"
wait_for '[ "$(icons)" -eq 1 ]' || fail "--tray beside the window added no icon"
[ "$(processes)" -eq 1 ] || fail "--tray beside the window runs apart: $(pgrep -af "vantrel\\.exe")"
menu 7
wait_for '[ "$(processes)" -eq 0 ] && [ -z "$(main_window)" ]' || fail "the tray's Exit left the window"
echo "PASS: icon, colour, menu's Hide and Show, one tray, the watch, Run entry, one Vantrel with" \
  "window and tray under Wine"
