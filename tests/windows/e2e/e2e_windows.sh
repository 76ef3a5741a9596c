#!/usr/bin/env bash
# End to end on a virtual display with a window manager: the setup installs Vantrel into a copy
# of the build's Wine prefix; the installed vantrel.exe, started from another folder that holds
# a settings file and a help file of its own, with VANTREL_HOSTS_FILE naming another file and a
# per-user association of .txt files that runs a command, works on the prefix's own hosts file
# with the installed list and opens the installed help in Notepad, touching none of the others.
# The splash is dismissed by a key, the toggle clicked with xdotool twice and the hosts bytes
# checked after each click (the setup's hosts file service writes them); with the service
# stopped a press offers the repair and changes nothing, and once repaired works again; Settings
# (an elevated copy of the program) and the system menu's About box are opened; the system menu's
# "Show ads for 10 minutes" shows the ads and counts down, and Exit asks whether to hide them
# again, which Enter does before the program ends. Then the setup
# refuses a folder outside Program Files, and the uninstaller, finding a damaged block, says so
# and, told to go on, leaves nothing of Vantrel beside the hosts file. Screenshots of each are
# kept in the output folder.
# Usage: e2e_windows.sh <vantrel.exe> <the build's Wine prefix> <folder for the screenshots>
#                       <the setup program> <notes_line.exe>
set -euo pipefail
base_prefix=$(realpath "$2")
out=$(realpath "${3:-.}")
setup=$(realpath "$4")
notes_line=$(realpath "$5")
here=$(cd "$(dirname "$0")" && pwd)
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

# Installed as a user installs it, into the prefix's Program Files.
wine "$setup" /S >/dev/null 2>&1 || fail "the setup failed"
wineserver -w
installed="$prefix/drive_c/Program Files/Vantrel"
[ -f "$installed/vantrel.exe" ] || fail "the setup installed no vantrel.exe"

# Another folder to start it from, with a list and a help file of its own.
mkdir "$work/wd"
printf '0.0.0.0 planted.example\r\n' >"$work/wd/vantrel_settings.txt"
printf 'planted help\r\n' >"$work/wd/help.txt"
cp "$work/wd/vantrel_settings.txt" "$work/wd/help.txt" "$work/"
# Another hosts file, named in the environment the program runs with.
printf '127.0.0.1 decoy\r\n' >"$work/decoy-hosts"
cp "$work/decoy-hosts" "$work/decoy-hosts.before"
# Per-user associations of .txt files that any program of the user may write: through txtfile,
# and through a class of .txt's own. Either leaves a marker when it runs. Windows merges them
# into HKEY_CLASSES_ROOT, which the shell reads; Wine does not, so the class goes there too: a
# program that opened help.txt through the shell would run it.
reg_add() { wine reg add "$@" /f >/dev/null 2>&1 || fail "wine reg add $*"; }
for classes in 'HKCU\Software\Classes' 'HKCR'; do
  reg_add "$classes\\.txt" /ve /d vantrelplanted
  reg_add "$classes\\vantrelplanted\\shell\\open\\command" /ve /d 'cmd /c echo x >C:\marker-class.txt'
done
reg_add 'HKCU\Software\Classes\txtfile\shell\open\command' /ve /d 'cmd /c echo x >C:\marker-txtfile.txt'
wineserver -w

printf '127.0.0.1 localhost\r\n::1 localhost\r\n' >"$hosts"
cp "$hosts" "$work/hosts.before"
{
  cat "$work/hosts.before"
  printf '# Begin Vantrel\r\n'
  # The installed settings file's lines (CR LF), and the empty line its last break makes.
  cat "$installed/vantrel_settings.txt"
  printf '\r\n# End Vantrel'
} >"$work/hosts.added"

(cd "$work/wd" && VANTREL_HOSTS_FILE="$(winepath -w "$work/decoy-hosts")" \
  exec wine "$installed/vantrel.exe" >"$work/app.log" 2>&1) &
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

# The first visible window whose title matches, once one shows, within `2` seconds (default 30).
# (xdotool's own --sync gives up at a window that vanishes while it looks.)
await_window() {
  local w
  for _ in $(seq $(( ${2:-30} * 10 ))); do
    w=$(xdotool search --onlyvisible --name "$1" 2>/dev/null | head -n1)
    [ -n "$w" ] && { echo "$w"; return 0; }
    sleep 0.1
  done
  return 1
}

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

# The hosts file service stopped: a press says so, offers to repair the installation and changes
# nothing; No leaves it so, Yes repairs it (one elevated step) and the next press hides again.
service_running() { wine sc query VantrelHosts 2>/dev/null | grep -q RUNNING; }
service_running || fail "the setup did not start the hosts file service"
wine sc stop VantrelHosts >/dev/null 2>&1 || fail "the service could not be stopped"
wait_for '! service_running' 20 || fail "the service did not stop"
message_box() {
  local w
  for w in $(xdotool search --onlyvisible --name '^Vantrel$' 2>/dev/null); do
    [ "$w" != "$main" ] && { echo "$w"; return 0; }
  done
  return 1
}
click_du 7 224 58 21
wait_for 'message_box >/dev/null' 15 || fail "a press without the service said nothing"
sleep 0.5
import -window root "$out/e2e-win-service-stopped.png"
xdotool windowactivate --sync "$(message_box)" key n
wait_for '! message_box >/dev/null' 10 || fail "No did not close the message"
cmp -s "$hosts" "$work/hosts.before" || fail "a press without the service changed the hosts file"
click_du 7 224 58 21
wait_for 'message_box >/dev/null' 15 || fail "the second press without the service said nothing"
xdotool windowactivate --sync "$(message_box)" key y
wait_for service_running 30 || fail "Yes did not repair the service"
wait_for '! message_box >/dev/null' 10 || fail "the repair left a message open"
sleep 0.5
click_du 7 224 58 21
wait_for 'cmp -s "$hosts" "$work/hosts.added"' 10 || fail "after the repair a press did not hide"
click_du 7 224 58 21
wait_for 'cmp -s "$hosts" "$work/hosts.before"' 10 || fail "after the repair a press did not show"

cmp -s "$work/decoy-hosts" "$work/decoy-hosts.before" ||
  fail "the program changed the file that VANTREL_HOSTS_FILE names"

click_du 70 224 57 21
settings=$(timeout 15 xdotool search --sync --onlyvisible --name '^Vantrel Settings$' | head -n1) ||
  fail "Settings did not open its dialog"
sleep 0.5
import -window root "$out/e2e-win-settings.png"
cp "$installed/vantrel_settings.txt" "$work/installed-settings.before"
xdotool windowactivate --sync "$settings" key Escape
wait_for "! xdotool search --onlyvisible --name '^Vantrel Settings\$' >/dev/null" 10 ||
  fail "Escape did not close the settings dialog"
cmp -s "$installed/vantrel_settings.txt" "$work/installed-settings.before" ||
  fail "closing the settings dialog with Escape changed the settings file"

# Help: the installed help.txt in the system's Notepad, never through the .txt associations.
markers() { ls "$prefix/drive_c" | grep '^marker-' || true; }
click_du 228 225 57 20
wait_for '[ -n "$(markers)" ] || xdotool search --onlyvisible --name Notepad >/dev/null 2>&1' 20 || true
sleep 1
[ -z "$(markers)" ] || fail "Help ran the user's association of .txt files: $(markers)"
notepad=$(await_window 'Notepad') ||
  fail "Help opened no Notepad"
import -window root "$out/e2e-win-help.png"
pgrep -af 'notepad\.exe' | grep -F 'system32\notepad.exe' | grep -qF 'C:\Program Files\Vantrel\help.txt' || {
  pgrep -af 'notepad\.exe' || true
  fail "Help did not open the installed help.txt with the system's notepad.exe"
}
xdotool windowactivate --sync "$notepad" key alt+F4
wait_for "! xdotool search --onlyvisible --name 'Notepad' >/dev/null" 10 || fail "Notepad did not close"
[ -z "$(markers)" ] || fail "Help ran the user's association of .txt files: $(markers)"
cmp -s "$work/wd/help.txt" "$work/help.txt" && cmp -s "$work/wd/vantrel_settings.txt" \
  "$work/vantrel_settings.txt" || fail "a file in the folder it was started from changed"

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

# A timed Show from the system menu (its entries above About), with the ads hidden: the file goes
# back to the bytes without the block and the notes line counts down. Exit asks whether to hide
# the ads again; Enter (Yes) hides them, byte for byte, and the program ends.
click_du 7 224 58 21
wait_for 'cmp -s "$hosts" "$work/hosts.added"' 10 || fail "a press did not hide before the timed Show"
before=$(program_windows)
xdotool windowactivate --sync "$main" key alt+space
wait_for '[ "$(program_windows)" -gt "$before" ]' 10 || fail "Alt+Space did not open the system menu"
sleep 0.2
xdotool key Up Up Up Up
sleep 0.2
import -window root "$out/e2e-win-system-menu.png"
xdotool key Return
wait_for 'cmp -s "$hosts" "$work/hosts.before"' 10 || fail "Show ads for 10 minutes did not show the ads"
notes() { wine "$notes_line" 2>/dev/null | tr -d '\r'; }
wait_for 'notes | grep -qE "^Ads will be hidden again in (10|9) minutes\.$"' 10 ||
  fail "the notes line does not count down: '$(notes)'"
import -window root "$out/e2e-win-timed-show.png"
click_du 291 225 57 20
wait_for 'message_box >/dev/null' 15 || fail "Exit during the timed Show asked nothing"
sleep 0.5
import -window root "$out/e2e-win-hide-again-question.png"
xdotool windowactivate --sync "$(message_box)" key Return
wait_for '! kill -0 "$app_pid" 2>/dev/null' 15 || fail "Exit did not end the program"
app_pid=""
cmp -s "$hosts" "$work/hosts.added" || fail "Yes to the question did not hide the ads byte for byte"

# The setup refuses a folder outside Program Files, and says why.
(exec wine "$setup" '/D=C:\Vantrel' >/dev/null 2>&1) &
page=$(await_window 'Setup: Installation Folder$') ||
  fail "the setup showed no folder page"
xdotool windowactivate --sync "$page" key Return
refusal=$(await_window '^Vantrel .* Setup$') ||
  fail "the setup did not refuse C:\\Vantrel"
sleep 0.5
import -window root "$out/e2e-win-setup-refuses-folder.png"
xdotool windowactivate --sync "$refusal" key Return
sleep 0.5
xdotool windowactivate --sync "$page" key Escape
wineserver -w
[ ! -e "$prefix/drive_c/Vantrel" ] || fail "the setup made C:\\Vantrel"

# The uninstaller finds a damaged block, says what is wrong, where, and what to delete, and
# uninstalls on Yes; the lines stay, and nothing of Vantrel is left beside the hosts file.
printf '127.0.0.1 localhost\r\n# Begin Vantrel\r\n0.0.0.0 x.example\r\n' >"$hosts"
cp "$hosts" "$work/hosts.damaged"
(exec wine "$installed/unins000.exe" >/dev/null 2>&1) &
confirm=$(await_window 'Uninstall: Confirmation$') ||
  fail "the uninstaller showed no confirmation page"
xdotool windowactivate --sync "$confirm" key Return
question=$(await_window '^Vantrel .* Uninstall$') ||
  fail "the uninstaller did not ask about the damaged block"
sleep 0.5
import -window root "$out/e2e-win-uninstall-damaged.png"
xdotool windowactivate --sync "$question" key y
wait_for "[ ! -e \"\$installed/vantrel.exe\" ]" 30 || fail "Yes did not uninstall"
done_box=$(await_window '^Vantrel .* Uninstall$') ||
  fail "the uninstaller did not say it was done"
xdotool windowactivate --sync "$done_box" key Return
wineserver -w
cmp -s "$hosts" "$work/hosts.damaged" || fail "the uninstaller changed the damaged hosts file"
left=$(ls -A "$(dirname "$hosts")" | grep -i vantrel || true)
[ -z "$left" ] || fail "the uninstaller left beside the hosts file: $left"
[ ! -e "$installed" ] || fail "the uninstaller left $installed"
echo "PASS: installed; started elsewhere: splash, toggle twice byte for byte on the prefix's" \
  "hosts file with the installed list, service stopped and repaired, settings, Help in Notepad, About, a timed Show," \
  "Exit hiding again; setup refusal;" \
  "uninstall past a damaged block; screenshots in $out/e2e-win-*.png"
