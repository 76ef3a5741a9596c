#!/usr/bin/env bash
# End to end: Vantrel 1.0, installed from this build's package (its helper built with a throwaway
# maker's key), finds a signed 1.1 on "its maker's server" (127.0.0.1 by the scratch /etc/hosts,
# with a test CA in the scratch trust store; the variables that once chose them are decoys), is
# told Yes, and installs it through pkexec and the package manager; it says so and ends with 0,
# and the hosts block stays. Before that, a user whom polkit does not authorize gets a message and
# 1.0 stays. (The helper's refusals, a changed package among them: PackageUpgradeTest.)
# Everything happens in private namespaces (loopback only, overlays on /usr and /var, a scratch
# /etc, a bus and polkitd of its own). Exits 77 (skipped), saying why, where it cannot run.
# Usage: e2e_upgrade.sh <build dir> <directory for the screenshots> <test key folder>
set -euo pipefail
skip() { echo "SKIP: $*"; exit 77; }

if [ -z "${VANTREL_UPGRADE_TEST_NS:-}" ]; then
  [ "$(id -u)" -eq 0 ] || skip "needs root to install packages in a private namespace"
  for tool in unshare Xvfb xdotool import openssl python3 dpkg-deb apt-get cpack setpriv \
              dbus-daemon dbus-send openbox; do
    command -v "$tool" >/dev/null || skip "$tool is not installed"
  done
  pkexec=$(command -v pkexec) || skip "pkexec is not installed"
  [ -u "$pkexec" ] || skip "pkexec is not setuid root"
  [ -x /usr/lib/polkit-1/polkitd ] || skip "polkitd is not installed"
  unshare -m -n --propagation private true 2>/dev/null || skip "cannot create private namespaces here"
  exec env VANTREL_UPGRADE_TEST_NS=1 unshare -m -n --propagation private "$0" "$@"
fi

build=$(realpath "$1")
out=$(realpath "${2:-.}")
keys=$(realpath "$3")
[ -x "$keys/vantrel-upgrade-helper" ] && [ -f "$keys/maker.key" ] || skip "no helper built with a test key"
page_url=$(sed -n 's/^VANTREL_UPGRADE_URL:[A-Z]*=//p' "$build/CMakeCache.txt")
host=${page_url#https://}
host=${host%%/*}
page_path=/${page_url#https://*/}
case "$host" in *:* | "") skip "the build's upgrade page $page_url names a port or no host" ;; esac
ip link set lo up
# Lookups with AI_ADDRCONFIG want an address beyond loopback's own.
ip addr add 192.0.2.10/24 dev lo
T=$(mktemp -d /tmp/vantrel-upgrade-e2e-XXXXXX)
chmod 755 "$T"
# The program's scratch folders go here, not into the machine's /tmp, where tests running beside
# this one make folders of the same name.
mkdir -m 1777 "$T/tmp"
pids=()
cleanup() {
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
  for pid in "${pids[@]}"; do while kill -0 "$pid" 2>/dev/null; do sleep 0.1; done; done
  # The overlays go with the namespace; only the scratch folder is left to remove.
  umount -l "$T/ov" 2>/dev/null || true
  rm -rf "$T"
}
trap cleanup EXIT
fail() {
  echo "FAIL: $*"
  [ -n "${DISPLAY:-}" ] && import -window root "$out/e2e-upgrade-failure.png" 2>/dev/null || true
  for log in app server polkitd apt; do
    [ -s "$T/$log.log" ] && sed "s/^/  $log: /" "$T/$log.log"
  done
  # What dpkg and apt recorded of the installations in this namespace.
  for log in /var/log/dpkg.log /var/log/apt/term.log; do
    [ -s "$log" ] && tail -n 40 "$log" | sed "s|^|  $log: |"
  done
  exit 1
}
trap 'fail "command at line $LINENO failed"' ERR
wait_for() {  # up to thirty seconds
  for _ in $(seq 300); do
    if eval "$1"; then return 0; fi
    sleep 0.1
  done
  return 1
}
# The first visible window named $1, polled: a search dies when a window it looks at goes away
# meanwhile (a message box that was just answered).
find_window() {
  local name=$1
  wait_for 'xdotool search --onlyvisible --name "$name" >"$T/found" 2>/dev/null && [ -s "$T/found" ]' &&
    head -n1 "$T/found"
}

echo "== the 1.0 package of this build with the test key's helper, and a signed 1.1 made from it"
(cd "$build" && cpack -G DEB -B "$T/pkg" >/dev/null)
built=$(ls "$T"/pkg/vantrel_*.deb)
[ "$(dpkg-deb --field "$built" Version)" = 1.0 ] || fail "the build's package is not version 1.0"
dpkg-deb -R "$built" "$T/v10"
install -m 755 "$keys/vantrel-upgrade-helper" "$T/v10/usr/libexec/vantrel/vantrel-upgrade-helper"
(cd "$T/v10" && find usr -type f -exec md5sum {} + >DEBIAN/md5sums)
old="$T/vantrel_1.0.deb"
dpkg-deb --root-owner-group -b "$T/v10" "$old" >/dev/null
# make_package DIR NAME VERSION OUT: the 1.0 tree under another name or version.
make_package() {
  rm -rf "$1"
  cp -a "$T/v10" "$1"
  sed -i "s/^Package: .*/Package: $2/; s/^Version: .*/Version: $3/" "$1/DEBIAN/control"
  dpkg-deb --root-owner-group -b "$1" "$4" >/dev/null
}
sign() { openssl dgst -sha256 -sign "$2" -out "$1.sig" "$1"; }
mkdir -p "$T/www"
make_package "$T/v11" vantrel 1.1 "$T/www/vantrel_1.1.deb"
sign "$T/www/vantrel_1.1.deb" "$keys/maker.key"
digest=$(sha256sum "$T/www/vantrel_1.1.deb" | cut -d' ' -f1)

echo "== a private /usr, /var and /etc"
mkdir "$T/ov"
mount -t tmpfs tmpfs "$T/ov"
for d in usr var; do
  mkdir -p "$T/ov/$d/up" "$T/ov/$d/work"
  mount -t overlay overlay -o "lowerdir=/$d,upperdir=$T/ov/$d/up,workdir=$T/ov/$d/work" "/$d"
done
cp -a /etc "$T/etc"
mount --bind "$T/etc" /etc
# A /run of its own: the bus, and the lock on the system hosts file.
mount -t tmpfs -o mode=0755 tmpfs /run
mkdir -p /run/dbus /run/lock

echo "== installing 1.0 with apt-get"
if dpkg-query -W -f='${Status}' vantrel 2>/dev/null | grep -q "install ok installed"; then
  DEBIAN_FRONTEND=noninteractive apt-get remove -y -qq vantrel >"$T/apt.log" 2>&1
fi
DEBIAN_FRONTEND=noninteractive apt-get install -y -q "$old" >"$T/apt.log" 2>&1 ||
  fail "1.0 did not install"
[ "$(dpkg-query -W -f='${Version}' vantrel)" = 1.0 ] || fail "1.0 is not installed"
grep -A6 'id="org.vantrel.upgrade"' /usr/share/polkit-1/actions/org.vantrel.hosts-helper.policy |
  grep -q '<allow_active>auth_admin</allow_active>' || fail "an upgrade must ask for a password"

# Ads hidden before the upgrade, by the installed helper as the program would. The maker's
# server is this machine.
printf '127.0.0.1 localhost\n::1 localhost ip6-localhost\n127.0.0.1 %s\n' "$host" >/etc/hosts
/usr/libexec/vantrel/vantrel-hosts-helper hide </usr/share/vantrel/vantrel_settings.txt >/dev/null
grep -q '^# Begin Vantrel' /etc/hosts || fail "no block to keep"
cp /etc/hosts "$T/hosts.with-block"

echo "== a system bus and polkitd that authorize a test user"
echo 'vantreltest:x:4242:4242:Vantrel test:/nonexistent:/usr/sbin/nologin' >>/etc/passwd
echo 'vantreltest:x:4242:' >>/etc/group
cat >/etc/polkit-1/rules.d/50-vantrel-test.rules <<RULE
polkit.addRule(function(action, subject) {
  if (action.id == "org.vantrel.upgrade" && subject.user == "vantreltest")
    return polkit.Result.YES;
});
RULE
polkit_on_bus() {
  dbus-send --system --print-reply --dest=org.freedesktop.DBus /org/freedesktop/DBus \
    org.freedesktop.DBus.NameHasOwner string:org.freedesktop.PolicyKit1 2>/dev/null | grep -q 'boolean true'
}
pids+=("$(dbus-daemon --system --fork --print-pid)")
/usr/lib/polkit-1/polkitd --no-debug >"$T/polkitd.log" 2>&1 &
pids+=("$!")
wait_for polkit_on_bus || skip "polkitd never took its bus name here"

echo "== the maker's server: the upgrade page, the 1.1 package and its signature, over https"
(cd "$T" &&
  openssl req -x509 -newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes -keyout ca.key \
    -out ca.pem -days 1 -subj '/CN=Vantrel e2e CA' &&
  openssl req -newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes -keyout server.key \
    -out server.csr -subj "/CN=$host" &&
  printf 'subjectAltName=DNS:%s\n' "$host" >ext.cnf &&
  openssl x509 -req -in server.csr -CA ca.pem -CAkey ca.key -CAcreateserial -out server.pem \
    -days 1 -extfile ext.cnf) >/dev/null 2>&1
# The scratch trust store is the only place the program learns of the test CA.
cat "$T/ca.pem" >>/etc/ssl/certs/ca-certificates.crt
cat >"$T/server.py" <<'PY'
import http.server, ssl, sys, os
work, digest, host, page = sys.argv[1:5]
class Handler(http.server.BaseHTTPRequestHandler):
    def do_GET(self):
        if self.path == page:
            body = ("<html><body>\n<!-- UPGRADE Version\n1.1\n-->\n<!-- UPGRADE Description\n"
                    "Hides the ads of three more domains.\nEND UPGRADE Description -->\n"
                    "<!-- UPGRADE Download Link\nhttps://%s/vantrel_1.1.deb\n-->\n"
                    "<!-- UPGRADE SHA256\n%s\n-->\n</body></html>\n" % (host, digest)).encode()
            kind = "text/html"
        elif self.path in ("/vantrel_1.1.deb", "/vantrel_1.1.deb.sig"):
            body = open(os.path.join(work, "www", self.path[1:]), "rb").read()
            kind = "application/octet-stream"
        else:
            self.send_error(404)
            return
        self.send_response(200); self.send_header("Content-Type", kind)
        self.send_header("Content-Length", str(len(body))); self.end_headers()
        self.wfile.write(body)
server = http.server.ThreadingHTTPServer(("127.0.0.1", 443), Handler)
context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
context.load_cert_chain(os.path.join(work, "server.pem"), os.path.join(work, "server.key"))
server.socket = context.wrap_socket(server.socket, server_side=True)
open(os.path.join(work, "port"), "w").write("443")
server.serve_forever()
PY
python3 "$T/server.py" "$T" "$digest" "$host" "$page_path" 2>"$T/server.log" &
pids+=("$!")
wait_for '[ -s "$T/port" ]' || fail "the server did not start"

# A display of this network namespace's own, whose socket replaces no other server's.
mount -t tmpfs tmpfs /tmp/.X11-unix
Xvfb -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp -ac 3>"$T/display" 2>/dev/null &
pids+=("$!")
wait_for '[ -s "$T/display" ]' || fail "Xvfb did not start"
export DISPLAY=":$(head -n1 "$T/display")"
unset WAYLAND_DISPLAY
openbox >/dev/null 2>&1 &
pids+=("$!")
sleep 0.5

# Starts the installed program as user $1 in a home of its own, opens the upgrade dialog,
# presses Enter in it, and answers Yes to the offer.
start_and_accept() {
  local uid=$1 home="$T/home-$1"
  mkdir -p "$home/config"
  mkdir -p -m 700 "$home/run"  # a session of its own: no other Vantrel is reached
  cp /usr/share/vantrel/vantrel_settings.txt "$home/"
  chown -R "$uid:$uid" "$home"
  (cd "$home" && exec setsid setpriv --reuid="$uid" --regid="$uid" --clear-groups \
    env -i PATH=/usr/bin:/bin HOME="$home" TMPDIR="$T/tmp" DISPLAY="$DISPLAY" QT_QPA_PLATFORM=xcb \
    XDG_CONFIG_HOME="$home/config" VANTREL_UPGRADE_URL="https://127.0.0.1:1/decoy.html" \
    VANTREL_CA_FILE=/dev/null XDG_RUNTIME_DIR="$home/run" \
    /usr/libexec/vantrel/vantrel </dev/null >"$T/app.log" 2>&1) &
  app_pid=$!
  wait_for '! xdotool search --onlyvisible --name "^Vantrel splash screen$" >/dev/null 2>&1 &&
            xdotool search --onlyvisible --name "^Vantrel$" >/dev/null 2>&1' ||
    fail "the main window did not appear alone"
  sleep 3.5  # the splash screen may not have shown yet
  wid=$(find_window '^Vantrel$') || fail "the main window went away"
  eval "$(xdotool getwindowgeometry --shell "$wid")"
  # Upgrade (control 3) at 166,225,57,20 of the 355 x 252 template.
  xdotool mousemove --window "$wid" $((WIDTH * 389 / 710)) $((HEIGHT * 470 / 504)) click 1
  dlg=$(find_window '^Check for Upgrade$') || fail "the upgrade dialog did not open"
  xdotool windowactivate --sync "$dlg" 2>/dev/null || xdotool windowfocus --sync "$dlg"
  xdotool key Return  # OK is the default button
  box=$(find_window '^A new upgrade is available.$') || fail "no upgrade was offered"
  sleep 0.3
  import -window root "$out/e2e-upgrade-offer.png"
  xdotool windowactivate --sync "$box" 2>/dev/null || xdotool windowfocus --sync "$box"
  xdotool key alt+y
}

# The message box that ends the upgrade: a second window named "Vantrel".
answer_box() {
  wait_for '{ xdotool search --onlyvisible --name "^Vantrel$" 2>/dev/null || true; } |
              grep -vx "$wid" >"$T/found"' || fail "no message after the installation"
  sleep 0.3
  import -window root "$out/e2e-upgrade-$1.png"
  local box
  box=$(head -n1 "$T/found")
  xdotool windowactivate --sync "$box" 2>/dev/null || xdotool windowfocus --sync "$box"
  xdotool key Return
}

echo "== a user whom polkit does not authorize: 1.0 stays, and the program says why"
start_and_accept 4243
answer_box refused
sleep 0.5
kill -0 "$app_pid" 2>/dev/null || fail "the program ended after a refused installation"
[ "$(dpkg-query -W -f='${Version}' vantrel)" = 1.0 ] || fail "a refused installation changed the package"
kill "$app_pid"
wait "$app_pid" 2>/dev/null || true
wait_for '! xdotool search --onlyvisible --name "^Vantrel$" >/dev/null 2>&1' || fail "the program did not go"

echo "== the authorized user upgrades to 1.1"
start_and_accept 4242
wait_for 'xdotool search --onlyvisible --name "^Upgrading Software$" >/dev/null 2>&1' ||
  fail "the status window did not appear"
answer_box installed
wait_for '! kill -0 "$app_pid" 2>/dev/null' || fail "the program did not end after the upgrade"
status=0
wait "$app_pid" || status=$?
[ "$status" -eq 0 ] || fail "the program ended with status $status"
[ "$(dpkg-query -W vantrel)" = "$(printf 'vantrel\t1.1')" ] || fail "1.1 is not installed: $(dpkg-query -W vantrel)"
cmp -s /etc/hosts "$T/hosts.with-block" || fail "the upgrade changed the hosts block"
! ls -d "$T"/tmp/vantrel-upgrade-?????? 2>/dev/null | grep -q . || fail "the download was left behind"
echo "PASS: upgraded from 1.0 to 1.1 through the package manager; screenshots in $out/e2e-upgrade-*.png"
