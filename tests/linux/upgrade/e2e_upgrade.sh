#!/usr/bin/env bash
# End to end on a virtual display: the built program checks a local https server for an upgrade,
# is told Yes, downloads, verifies and runs the (fake) uninstaller and installer, and ends with 0.
# Usage: e2e_upgrade.sh <vantrel executable> <fake setup program> <directory for the screenshots>
set -euo pipefail
exe=$(realpath "$1")
setup=$(realpath "$2")
out=$(realpath "${3:-.}")
for tool in Xvfb xdotool import openssl python3; do
  command -v "$tool" >/dev/null || { echo "SKIP: $tool is not installed"; exit 77; }
done

work=$(mktemp -d)
xvfb_pid="" app_pid="" server_pid="" wm_pid=""
cleanup() {
  [ -n "$app_pid" ] && kill "$app_pid" 2>/dev/null || true
  [ -n "$server_pid" ] && kill "$server_pid" 2>/dev/null || true
  [ -n "$wm_pid" ] && kill "$wm_pid" 2>/dev/null || true
  [ -n "$xvfb_pid" ] && kill "$xvfb_pid" 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT
fail() {
  echo "FAIL: $*"
  [ -n "${DISPLAY:-}" ] && import -window root "$out/e2e-upgrade-failure.png" 2>/dev/null || true
  [ -s "$work/app.log" ] && sed 's/^/  vantrel: /' "$work/app.log"
  [ -s "$work/server.log" ] && sed 's/^/  server: /' "$work/server.log"
  [ -s "$work/wd/upgrade-log.txt" ] && sed 's/^/  setup: /' "$work/wd/upgrade-log.txt"
  exit 1
}
trap 'fail "command at line $LINENO failed"' ERR

wait_for() {  # up to twenty seconds
  for _ in $(seq 200); do
    if eval "$1"; then return 0; fi
    sleep 0.1
  done
  return 1
}

# A CA that only this run trusts, and the server's certificate for 127.0.0.1.
(cd "$work" &&
  openssl req -x509 -newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes -keyout ca.key \
    -out ca.pem -days 1 -subj '/CN=Vantrel e2e CA' &&
  openssl req -newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes -keyout server.key \
    -out server.csr -subj '/CN=127.0.0.1' &&
  printf 'subjectAltName=IP:127.0.0.1\n' >ext.cnf &&
  openssl x509 -req -in server.csr -CA ca.pem -CAkey ca.key -CAcreateserial -out server.pem \
    -days 1 -extfile ext.cnf) >/dev/null 2>&1

# The server sends the installer slowly, so the status window can be seen at work.
cp "$setup" "$work/VantrelSetup.exe"
digest=$(sha256sum "$work/VantrelSetup.exe" | cut -d' ' -f1)
cat >"$work/server.py" <<'PY'
import http.server, ssl, sys, time, os
work, digest = sys.argv[1], sys.argv[2]
class Handler(http.server.BaseHTTPRequestHandler):
    def do_GET(self):
        port = self.server.server_address[1]
        if self.path == "/vantrel_upgrade_check.html":
            body = ("<html><body>\n<!-- UPGRADE Version\n1.1\n-->\n<!-- UPGRADE Description\n"
                    "Hides the ads of three more domains.\nStarts faster.\nEND UPGRADE Description -->\n"
                    "<!-- UPGRADE Download Link\nhttps://127.0.0.1:%d/VantrelSetup.exe\n-->\n"
                    "<!-- UPGRADE SHA256\n%s\n-->\n</body></html>\n" % (port, digest)).encode()
            self.send_response(200); self.send_header("Content-Type", "text/html")
            self.send_header("Content-Length", str(len(body))); self.end_headers()
            self.wfile.write(body)
        elif self.path == "/VantrelSetup.exe":
            data = open(os.path.join(work, "VantrelSetup.exe"), "rb").read()
            self.send_response(200); self.send_header("Content-Type", "application/octet-stream")
            self.send_header("Content-Length", str(len(data))); self.end_headers()
            half = len(data) // 2
            self.wfile.write(data[:half]); self.wfile.flush()
            open(os.path.join(work, "half-sent"), "w").close()
            time.sleep(3)
            self.wfile.write(data[half:])
        else:
            self.send_error(404)
server = http.server.ThreadingHTTPServer(("127.0.0.1", 0), Handler)
context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
context.load_cert_chain(os.path.join(work, "server.pem"), os.path.join(work, "server.key"))
server.socket = context.wrap_socket(server.socket, server_side=True)
open(os.path.join(work, "port"), "w").write(str(server.server_address[1]))
server.serve_forever()
PY
python3 "$work/server.py" "$work" "$digest" 2>"$work/server.log" &
server_pid=$!
wait_for '[ -s "$work/port" ]' || fail "the server did not start"
url="https://127.0.0.1:$(cat "$work/port")/vantrel_upgrade_check.html"

Xvfb -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp 3>"$work/display" 2>/dev/null &
xvfb_pid=$!
wait_for '[ -s "$work/display" ]' || fail "Xvfb did not start"
export DISPLAY=":$(head -n1 "$work/display")"
unset WAYLAND_DISPLAY
# A window manager, when there is one, so the screenshots show the windows' titles.
if command -v openbox >/dev/null; then
  openbox >/dev/null 2>&1 &
  wm_pid=$!
  sleep 0.5
fi

# The installation directory with the old version's uninstaller: it takes a moment, so the
# status window's last text can be seen.
mkdir "$work/wd" "$work/config"
cat >"$work/wd/unins000.exe" <<'SH'
#!/bin/sh
printf 'uninstaller [%s] start\n' "$1" >>upgrade-log.txt
sleep 2
printf 'uninstaller end\n' >>upgrade-log.txt
SH
chmod 0755 "$work/wd/unins000.exe"
printf '127.0.0.1\tlocalhost\n' >"$work/hosts"

(cd "$work/wd" && VANTREL_HOSTS_FILE="$work/hosts" VANTREL_UPGRADE_URL="$url" \
  VANTREL_CA_FILE="$work/ca.pem" XDG_CONFIG_HOME="$work/config" QT_QPA_PLATFORM=xcb \
  exec "$exe" 2>"$work/app.log") &
app_pid=$!

wait_for '! xdotool search --onlyvisible --name "^Vantrel splash screen$" >/dev/null 2>&1 &&
          xdotool search --onlyvisible --name "^Vantrel$" >/dev/null 2>&1' ||
  fail "the main window did not appear alone"
sleep 3.5  # the splash screen may not have shown yet
wid=$(timeout 20 xdotool search --sync --onlyvisible --name '^Vantrel$' | head -n1)
eval "$(xdotool getwindowgeometry --shell "$wid")"
# Clicks are placed relative to the window: a window manager's frame moves it.
# Upgrade (control 3) at 166,225,57,20 of the 355 x 252 template.
xdotool mousemove --window "$wid" $((WIDTH * 389 / 710)) $((HEIGHT * 470 / 504)) click 1

dlg=$(timeout 20 xdotool search --sync --onlyvisible --name '^Check for Upgrade$' | head -n1) ||
  fail "the upgrade dialog did not open"
sleep 0.3
import -window root "$out/e2e-upgrade-dialog.png"
eval "$(xdotool getwindowgeometry --shell "$dlg")"
# OK at 21,37,50,14 of the 160 x 58 template.
xdotool mousemove --window "$dlg" $((WIDTH * 46 / 160)) $((HEIGHT * 44 / 58)) click 1

# Polled: the question box closes while the offer opens, and a search that meets a window going
# away dies with BadWindow.
wait_for 'xdotool search --onlyvisible --name "^A new upgrade is available.$" >/dev/null 2>&1' ||
  fail "no upgrade was offered"
box=$(xdotool search --onlyvisible --name '^A new upgrade is available.$' | head -n1)
sleep 0.3
import -window root "$out/e2e-upgrade-offer.png"
xdotool windowactivate --sync "$box" 2>/dev/null || xdotool windowfocus --sync "$box"
xdotool key --window "$box" alt+y

# Polled: a search dies when a window it looks at goes away meanwhile (the offer box).
wait_for 'xdotool search --onlyvisible --name "^Upgrading Software$" >/dev/null 2>&1' ||
  fail "the status window did not appear"
wait_for '[ -e "$work/half-sent" ]' || fail "the download did not start"
sleep 0.5
import -window root "$out/e2e-upgrade-downloading.png"
wait_for 'grep -q "uninstaller .* start" "$work/wd/upgrade-log.txt" 2>/dev/null' ||
  fail "the uninstaller did not run"
sleep 0.5
import -window root "$out/e2e-upgrade-removing.png"

wait_for '! kill -0 "$app_pid" 2>/dev/null' || fail "the program did not end after the upgrade"
status=0
wait "$app_pid" || status=$?
app_pid=""
[ "$status" -eq 0 ] || fail "the program ended with status $status"
expected=$'uninstaller [ /SILENT] start\nuninstaller end\nNewUpdate.exe start argc=2 [NewUpdate.exe] []\nNewUpdate.exe end'
[ "$(cat "$work/wd/upgrade-log.txt")" = "$expected" ] || fail "unexpected order or arguments"
[ ! -e "$work/wd/NewUpdate.exe" ] || fail "the download was left behind"
! grep -rqs UpgradeDate "$work/config" || fail "UpgradeDate was written"
echo "PASS: upgraded and ended with status 0; screenshots in $out/e2e-upgrade-*.png"
