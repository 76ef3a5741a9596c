#!/usr/bin/env bash
# The tray end to end on a virtual display with an XEmbed tray host (trayer), against a sandbox
# hosts file, preferences and runtime folder: its icon and colour, its menu's Hide and Show (the
# file's bytes as the window's toggle writes them), one Vantrel per session (a second --tray, the
# window started beside the tray and the tray beside the window go to the running one), a timed
# Show that ends by itself (a minute lasts a second in this test build) with one notice while the
# window and the tray are up, closing the window during it, a restart of the tray and of the window
# after a passed deadline, Exit during a timed Show, another program's rename over the file, the
# autostart entry.
# Usage: e2e_tray.sh <dialog program with a short minute> <vantrel executable> <screenshot folder>
set -euo pipefail
tray_exe=$(realpath "$1")
entry=$(realpath "$2")
out=$(realpath "${3:-.}")
src=${VANTREL_TEST_SOURCE_DIR:-$(cd "$(dirname "$0")/../../.." && pwd)}
for tool in Xvfb trayer xdotool xwininfo import convert; do
  command -v "$tool" >/dev/null || { echo "SKIP: $tool is not installed"; exit 77; }
done

work=$(mktemp -d)
xvfb_pid="" trayer_pid="" app_pid=""
cleanup() {
  for pid in "$app_pid" "$trayer_pid" "$xvfb_pid"; do
    [ -n "$pid" ] && kill "$pid" 2>/dev/null || true
  done
  rm -rf "$work"
}
trap cleanup EXIT
fail() {
  echo "FAIL: $*"
  [ -s "$work/trace" ] && sed 's/^/  trace: /' "$work/trace" | tail -n 8
  [ -s "$work/app.log" ] && sed 's/^/  vantrel: /' "$work/app.log"
  [ -n "$app_pid" ] && ps -o pid=,stat=,wchan:24=,etime=,args= -p "$app_pid" | sed 's/^/  running: /'
  exit 1
}
trap 'fail "command at line $LINENO failed"' ERR
# Up to `2` seconds (default 10): a sanitizer build on a loaded machine starts slowly.
wait_for() {
  for _ in $(seq $((${2:-10} * 10))); do
    if eval "$1"; then return 0; fi
    sleep 0.1
  done
  return 1
}

Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp 3>"$work/display" 2>/dev/null &
xvfb_pid=$!
wait_for '[ -s "$work/display" ]' || fail "Xvfb did not start"
export DISPLAY=":$(head -n1 "$work/display")"
unset WAYLAND_DISPLAY
# No session bus: the icon is an XEmbed one in trayer. An address that fails at once, because
# without one D-Bus starts a bus of its own (dbus-launch), forked from Qt's D-Bus thread.
export DBUS_SESSION_BUS_ADDRESS="unix:path=$work/no-session-bus"
trayer --edge top --align right --widthtype request --height 32 --expand false 2>/dev/null &
trayer_pid=$!

mkdir -m 700 "$work/run"
mkdir "$work/wd" "$work/config"
export XDG_RUNTIME_DIR="$work/run" XDG_CONFIG_HOME="$work/config" QT_QPA_PLATFORM=xcb
export VANTREL_HOSTS_FILE="$work/hosts" VANTREL_STATUS_TRACE="$work/trace"
cp "$src/res/vantrel_settings.txt" "$work/wd/"
printf '127.0.0.1\tlocalhost\n::1\tlocalhost ip6-localhost\n' >"$work/hosts.before"
{
  cat "$work/hosts.before"
  printf '# Begin Vantrel\n'
  cat "$work/wd/vantrel_settings.txt"
  printf '\n# End Vantrel'
} >"$work/hosts.added"
cp "$work/hosts.before" "$work/hosts"

start_tray() {
  (cd "$work/wd" && exec "$tray_exe" --tray 2>>"$work/app.log") &
  app_pid=$!
  wait_for 'icons >/dev/null' 30 || fail "no tray icon appeared"
}
# The tray host's panel, and the Vantrel icons embedded in it.
panel() { xdotool search --name '^panel$' | head -n1; }
# The program's topmost visible top-level window (the window, the menu, a question, a notice).
newest() {
  local visible
  visible=$(xdotool search --onlyvisible --classname '^vantrel-dialog' 2>/dev/null) || return 1
  xwininfo -root -children | awk '/\("vantrel-dialog/ {print $1}' | while read -r w; do
    if grep -qx "$((w))" <<<"$visible"; then echo "$((w))"; fi
  done | tail -n1 | grep .
}
icons() {
  local n p
  p=$(panel) && [ -n "$p" ] || return 1  # xwininfo without an id waits for a click
  n=$(xwininfo -tree -id "$p" | grep -c '"Vantrel": (') || true
  echo "$n"
  [ "$n" -gt 0 ]
}
# Red or green: which of the status line's two colours the icon shows more of.
colour() {
  eval "$(xdotool getwindowgeometry --shell "$(panel)")"
  local hist
  hist=$(import -window root -crop "${WIDTH}x${HEIGHT}+${X}+${Y}" -format %c histogram:info:-)
  local red green
  red=$(grep -cF '#FFFF00000000' <<<"$hist" || true)
  green=$(grep -cF '#00007D7D0000' <<<"$hist" || true)
  if [ "$red" -gt 0 ] && [ "$green" -eq 0 ]; then echo red; elif [ "$green" -gt 0 ] &&
    [ "$red" -eq 0 ]; then echo green; else echo unknown; fi
}
expect_colour() { wait_for "[ \"\$(colour)\" = $1 ]" || fail "the icon is not $1 $2"; }
# Right click on the icon, then the menu's entry `n` (1 Hide/Show, 2-4 the timed Shows, 5 Open
# Vantrel, 6 Start with my desktop, 7 Exit) by keyboard.
menu() {
  eval "$(xdotool getwindowgeometry --shell "$(panel)")"
  xdotool mousemove $((X + WIDTH / 2)) $((Y + HEIGHT / 2)) click 3
  sleep 0.5
  [ "${2:-}" = shot ] && import -window root "$out/e2e-tray-menu.png"
  for _ in $(seq "$1"); do xdotool key Down; done
  xdotool key Return
}
# The running Vantrel's visible windows titled "Vantrel": the main window, a question, a box.
windows() { xdotool search --all --onlyvisible --pid "$app_pid" --name '^Vantrel$' 2>/dev/null; }
splash_gone() {
  wait_for '! xdotool search --onlyvisible --name "^Vantrel splash screen$" >/dev/null 2>&1' ||
    fail "the splash screen did not hide"
}
hosts_is() { wait_for "cmp -s \"$work/hosts\" \"$work/hosts.$1\"" || fail "the hosts file is not $1 $2"; }
traced() { grep -qF "$1" "$work/trace" 2>/dev/null; }
times_traced() { grep -cF "$1" "$work/trace" || true; }

start_tray
expect_colour red "at the start"
menu 1 shot
hosts_is added "after the menu's Hide ads"
expect_colour green "after Hide"
menu 1
hosts_is before "after the menu's Show ads"
expect_colour red "after Show"

# A second tray reaches the first (whose menu comes forward) and ends; no second icon.
(cd "$work/wd" && timeout 20 "$entry" --tray 2>>"$work/app.log") || fail "the second --tray failed"
sleep 0.5
[ "$(icons)" -eq 1 ] || fail "a second --tray added an icon"
xdotool key Escape
# The window started beside the tray opens in the tray's process; a second start brings it forward.
for _ in 1 2; do
  (cd "$work/wd" && timeout 20 "$entry" 2>>"$work/app.log") || fail "vantrel beside the tray failed"
  wait_for '[ "$(windows | wc -l)" -eq 1 ]' || fail "vantrel beside the tray: not one window of the tray's"
done
splash_gone
xdotool windowfocus --sync "$(windows)" key Escape
wait_for '[ -z "$(windows)" ]' || fail "Escape did not close the window"

# Start with my desktop: the autostart entry comes and goes.
entry_file="$work/config/autostart/vantrel-tray.desktop"
menu 6
wait_for '[ -f "$entry_file" ]' || fail "no autostart entry"
grep -qx 'Exec=vantrel --tray' "$entry_file" || fail "the autostart entry does not start the tray"
menu 6
wait_for '[ ! -e "$entry_file" ]' || fail "the autostart entry stayed"

# A timed Show of ten (short) minutes: the window counts down, the block comes back by itself.
menu 1
hosts_is added "before the timed Show"
menu 2
hosts_is before "during the timed Show"
eval "$(xdotool getwindowgeometry --shell "$(panel)")"
xdotool mousemove $((X + WIDTH / 2)) $((Y + HEIGHT / 2)) click 1
timeout 10 xdotool search --sync --onlyvisible --name '^Vantrel splash screen$' >/dev/null ||
  fail "a click on the icon did not open the window"
# The splash takes the first key.
splash_gone
wid=$(windows)
import -window root "$out/e2e-tray-window.png"
traced "notes	Ads will be hidden again in " || fail "the window's notes do not count down"
# The window and the tray draw one model: each notice is said once, by the tray.
for _ in $(seq 30); do cmp -s "$work/hosts" "$work/hosts.added" && break; sleep 1; done
hosts_is added "after the timed Show"
[ "$(times_traced "notice	Ads will be hidden again in one minute.")" -eq 1 ] ||
  fail "not one notice a minute before"
[ "$(times_traced "notice	The time to show ads is over: ads are hidden again.")" -eq 1 ] ||
  fail "not one notice at the end"
expect_colour green "after the timed Show"
[ "$(windows)" = "$wid" ] || fail "the notice opened a window beside the tray's"
# Closing the window during a timed Show while the tray is shown asks nothing; the tray stays.
menu 2
hosts_is before "during the timed Show with the window open"
xdotool windowfocus --sync "$wid" key Escape
wait_for '! xwininfo -id "$wid" 2>/dev/null | grep -q IsViewable' || fail "Escape did not close the window"
sleep 0.5
[ -z "$(windows)" ] || fail "closing the window beside the tray asked something"
kill -0 "$app_pid" || fail "closing the window ended the tray"
menu 1
hosts_is added "after the menu's Hide ads ended the timed Show"

# Another program replaces the file without the block, by a rename.
cp "$work/hosts.before" "$work/hosts.other"
started=$(date +%s%N)
mv "$work/hosts.other" "$work/hosts"
expect_colour red "after another program removed the block"
echo "the icon turned red $((($(date +%s%N) - started) / 1000000)) ms after the rename"
wait_for 'traced "notice	Something else removed Vantrel'"'"'s block from the hosts file: ads are shown again.	Hide again"' ||
  fail "no notice with the offer to hide again"
import -window root "$out/e2e-tray-notice.png"
# A click on the notice hides the ads again.
wait_for 'newest >/dev/null' || fail "the notice is not on the screen"
eval "$(xdotool getwindowgeometry --shell "$(newest)")"
xdotool mousemove $((X + WIDTH / 2)) $((Y + HEIGHT * 3 / 4)) click 1
hosts_is added "after a click on the notice"

# A crash during a timed Show, and a start after its time: hidden at once, and said.
menu 2
hosts_is before "during the second timed Show"
ini="$work/config/Vantrel/Vantrel.ini"
wait_for 'grep -q "TimedShowUntil=[0-9]" "$ini"' || fail "the deadline was not stored"
kill -9 "$app_pid"
wait "$app_pid" 2>/dev/null || true
sed -i 's/TimedShowUntil=[0-9]*/TimedShowUntil=1/' "$ini"  # the time passed meanwhile
start_tray
hosts_is added "after a start past the deadline"
wait_for 'traced "notice	The time to show ads ran out while Vantrel was not running: ads are hidden again."' ||
  fail "the start past the deadline did not say so"

# Exit during a timed Show asks; Yes (the default) hides.
menu 2
hosts_is before "during the third timed Show"
menu 7
wait_for 'newest >/dev/null' || fail "Exit did not ask"
ask=$(newest)
xdotool windowfocus --sync "$ask" key Return
wait_for '! kill -0 "$app_pid" 2>/dev/null' || fail "Exit did not end the tray"
hosts_is added "after Exit's Yes"

# The window started alone after a passed deadline hides at once and says so beside itself. The
# tray started beside it joins its process; the tray's Exit ends both.
cp "$work/hosts.before" "$work/hosts"
grep -q 'TimedShowUntil=' "$ini" || fail "no deadline line in $ini"
sed -i 's/TimedShowUntil=[0-9]*/TimedShowUntil=1/' "$ini"
(cd "$work/wd" && exec "$tray_exe" 2>>"$work/app.log") &
app_pid=$!
hosts_is added "after the window's start past the deadline"
wait_for '[ "$(windows | wc -l)" -eq 2 ]' || fail "the window did not say that the time ran out"
splash_gone
for w in $(windows); do  # the notice is the smaller one
  eval "$(xdotool getwindowgeometry --shell "$w")"
  [ "$HEIGHT" -lt 300 ] && xdotool windowfocus --sync "$w" key Escape
done
wait_for '[ "$(windows | wc -l)" -eq 1 ]' || fail "Escape did not close the notice"
! icons >/dev/null || fail "the window came with a tray icon"
(cd "$work/wd" && timeout 20 "$entry" --tray 2>>"$work/app.log") || fail "--tray beside the window failed"
wait_for '[ "$(icons)" -eq 1 ]' || fail "--tray beside the window showed no icon"
import -window root "$out/e2e-tray-joined.png"
menu 7
wait_for '! kill -0 "$app_pid" 2>/dev/null' || fail "Exit did not end the window's process"
wait "$app_pid" || fail "Exit ended the window's process with status $?"
app_pid=""
echo "PASS: icon, colour, menu, one Vantrel, timed Show, restart, Exit, watch; screenshots in $out/e2e-tray-*.png"
