#!/usr/bin/env bash
# Builds the Debian package, installs it with apt-get, checks where its files went, and purges it
# again, checking that the removal took Vantrel's block out of the hosts file although another
# account holds a lock (shared, then exclusive) on the hosts file: the program locks a root-only
# file in /run instead, so nobody else can hold up the removal script. The removal runs in a
# private mount namespace with a scratch copy of /etc, a temporary hosts file bind-mounted over
# /etc/hosts and a /run of its own: the machine's own /etc and /run are never touched. The list the
# helper approves goes to /var/lib/vantrel, which the purge removes. Needs root (it installs a
# package); skips otherwise.
# Usage: scripts/package-test.sh [build-dir]
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
build=$(realpath -m "${1:-$here/build}")

if [ "$(id -u)" -ne 0 ]; then
  echo "SKIP package-test: installing a package needs root"
  exit 0
fi
for tool in apt-get dpkg-deb cpack unshare desktop-file-validate lintian; do
  command -v "$tool" >/dev/null || { echo "FAIL package-test: $tool is missing"; exit 1; }
done
if dpkg-query -W -f='${Status}' vantrel 2>/dev/null | grep -q "install ok installed"; then
  echo "SKIP package-test: a vantrel package is already installed here; not replacing it"
  exit 0
fi

fail() { echo "FAIL package-test: $*"; exit 1; }
work=$(mktemp -d)
cleanup() {
  if dpkg-query -W -f='${Status}' vantrel 2>/dev/null | grep -q "install ok installed"; then
    DEBIAN_FRONTEND=noninteractive apt-get purge -y -qq vantrel >/dev/null 2>&1 || true
  fi
  rm -rf "$work"
}
trap cleanup EXIT

[ -f "$build/CMakeCache.txt" ] || cmake -S "$here" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo
cmake "$build" >/dev/null
cmake --build "$build" --target vantrel vantrel-hosts-helper vantrel-upgrade-helper
rm -f "$build"/vantrel_*.deb
(cd "$build" && cpack -G DEB >/dev/null)
deb=$(ls "$build"/vantrel_*.deb)
echo "== built $(basename "$deb")"
dpkg-deb -f "$deb" Depends

# Errors fail the test; warnings are shown, and the known ones are explained in packaging/.
echo "== lintian"
lintian --tag-display-limit 0 "$deb" 2>/dev/null | tee "$work/lintian.txt" || true
if grep -q '^E: ' "$work/lintian.txt"; then
  fail "lintian reports errors on the package"
fi
if dpkg-deb -f "$deb" Description | awk 'length > 80 { bad = 1 } END { exit !bad }'; then
  fail "a description line is longer than 80 columns"
fi

echo "== installing with apt-get"
DEBIAN_FRONTEND=noninteractive apt-get install -y -qq "$deb" >/dev/null

for f in /usr/bin/vantrel /usr/libexec/vantrel/vantrel /usr/libexec/vantrel/vantrel-dialog \
         /usr/libexec/vantrel/vantrel-hosts-helper /usr/libexec/vantrel/vantrel-upgrade-helper; do
  [ -x "$f" ] || fail "$f is not installed as a program"
done
for f in /usr/share/applications/vantrel.desktop \
         /usr/share/polkit-1/actions/org.vantrel.hosts-helper.policy \
         /usr/share/icons/hicolor/scalable/apps/vantrel.svg \
         /usr/share/vantrel/vantrel_settings.txt /usr/share/vantrel/help.txt; do
  [ -f "$f" ] || fail "$f is not installed"
done
policy=/usr/share/polkit-1/actions/org.vantrel.hosts-helper.policy
[ "$(grep -c '<annotate key="org.freedesktop.policykit.exec.path">/usr/libexec/vantrel/vantrel-hosts-helper</annotate>' \
  "$policy")" = 2 ] || fail "the polkit policy does not name the helper for both of its actions"
grep -A8 'id="org.vantrel.hosts-approved"' "$policy" | grep -q '<allow_active>yes</allow_active>' ||
  fail "hiding the approved list must not ask for a password"
dpkg-deb -I "$deb" postrm | grep -q 'rm -rf /var/lib/vantrel' || fail "a purge would leave the approved list"
[ "$(stat -c %a /usr/libexec/vantrel/vantrel-hosts-helper)" = 755 ] || fail "the helper must not be setuid"
# The upgrade helper holds the key the build was given, and none without one.
key=$(sed -n 's/^VANTREL_UPGRADE_PUBKEY:[A-Z]*=//p' "$build/CMakeCache.txt")
status=0
/usr/libexec/vantrel/vantrel-upgrade-helper --can-verify 2>/dev/null || status=$?
if [ -z "$key" ]; then
  [ "$status" -eq 3 ] || fail "a package built without a maker's key must refuse every upgrade"
else
  [ "$status" -eq 0 ] || fail "the upgrade helper does not hold the maker's key $key"
fi
desktop-file-validate /usr/share/applications/vantrel.desktop || fail "desktop entry is not valid"
# Documentation is checked in the package itself: minimal systems keep dpkg from installing it.
dpkg-deb -x "$deb" "$work/deb-root"
for f in usr/share/doc/vantrel/copyright usr/share/doc/vantrel/changelog.gz usr/share/man/man1/vantrel.1.gz; do
  [ -f "$work/deb-root/$f" ] || fail "/$f is not in the package"
done
# The manual page renders without complaint and says what the command line does.
page=$(MANWIDTH=80 man --warnings -l "$work/deb-root/usr/share/man/man1/vantrel.1.gz" 2>"$work/man-warnings.txt") \
  || fail "man cannot show vantrel(1)"
[ ! -s "$work/man-warnings.txt" ] || { cat "$work/man-warnings.txt"; fail "vantrel(1) has formatting warnings"; }
for section in SYNOPSIS OPTIONS "EXIT STATUS" ENVIRONMENT FILES; do
  grep -q "^$section" <<<"$page" || fail "vantrel(1) has no $section section"
done
grep -q -- "-uninstall" <<<"$page" && grep -q VANTREL_HOSTS_FILE <<<"$page" \
  || fail "vantrel(1) does not describe -uninstall and VANTREL_HOSTS_FILE"
echo "== files in place, desktop entry valid"

# The launcher seeds a new user's Vantrel directory and starts the program there (no display needed
# for -uninstall).
home="$work/home"
mkdir -p "$home"
printf '127.0.0.1 localhost\n' >"$work/sandbox-hosts"
env -i PATH=/usr/bin:/bin HOME="$home" VANTREL_HOSTS_FILE="$work/sandbox-hosts" vantrel -uninstall \
  || fail "the launcher did not run the program"
cmp -s "$home/.local/share/Vantrel/vantrel_settings.txt" /usr/share/vantrel/vantrel_settings.txt \
  || fail "the launcher did not seed vantrel_settings.txt"
cmp -s "$home/.local/share/Vantrel/help.txt" /usr/share/vantrel/help.txt || fail "the launcher did not seed help.txt"
echo "== launcher seeded the per-user directory"

# Inside a chroot (a fresh-machine check) the root is no mount point and no private mount
# namespace can be made; the removal is then checked without the hosts part.
if ! unshare -m --propagation private true 2>/dev/null; then
  DEBIAN_FRONTEND=noninteractive apt-get remove -y -qq vantrel >/dev/null
  [ ! -e /usr/libexec/vantrel/vantrel ] || fail "the program is still there after removal"
  echo "SKIP package-test: no private mount namespace here, so the removal's hosts edit was not checked"
  exit 0
fi

echo "== removing in a private mount namespace with a sandbox /etc/hosts, under another account's lock"
printf '127.0.0.1 localhost\n::1 localhost ip6-localhost\n' >"$work/hosts.orig"
cp "$work/hosts.orig" "$work/hosts"
lock_before=$(ls -l /run/vantrel-hosts.lock 2>/dev/null || true)
export WORK="$work"
unshare -m --propagation private bash -euo pipefail -c '
  fail() { echo "FAIL package-test: $*"; exit 1; }
  mount -t tmpfs -o mode=0755 tmpfs /run
  mkdir /run/lock
  cp -a /etc "$WORK/etc"
  mount --bind "$WORK/etc" /etc
  mount --bind "$WORK/hosts" /etc/hosts
  holder=
  # One process holds the lock, so killing it frees the file; root sees it held once its own
  # try fails.
  hold_lock() {
    setpriv --reuid=65534 --regid=65534 --clear-groups \
      bash -c "exec 9</etc/hosts && flock $1 9 && exec sleep 600" &
    holder=$!
    while flock -n -x /etc/hosts true; do sleep 0.05; done
  }
  release_lock() { kill "$holder"; wait "$holder" 2>/dev/null || true; holder=; }
  trap "[ -z \"\$holder\" ] || kill \"\$holder\" 2>/dev/null || true" EXIT
  # The installed helper writes the block exactly as the program would, also under the lock.
  hold_lock -s
  /usr/libexec/vantrel/vantrel-hosts-helper hide </usr/share/vantrel/vantrel_settings.txt >/dev/null ||
    fail "the helper could not hide ads while another account held a shared lock"
  grep -q "^# Begin Vantrel" /etc/hosts || fail "no block was added"
  [ "$(stat -c "%U %a" /var/lib/vantrel/approved-block)" = "root 644" ] || fail "the list was not approved"
  cp /etc/hosts "$WORK/hosts.with-block"
  [ "$(stat -c "%u %a" /run/vantrel-hosts.lock)" = "0 600" ] || fail "the lock is not a root-only file"
  # The removal script takes the block out and says nothing.
  timeout 120 /var/lib/dpkg/info/vantrel.prerm remove 2>"$WORK/prerm.err" ||
    { cat "$WORK/prerm.err"; fail "the removal script failed or hung under a shared lock"; }
  [ ! -s "$WORK/prerm.err" ] || { cat "$WORK/prerm.err"; fail "the removal script complained"; }
  cmp -s /etc/hosts "$WORK/hosts.orig" || fail "the removal script left the block under a shared lock"
  release_lock
  # The whole removal and purge, under an exclusive lock.
  /usr/libexec/vantrel/vantrel-hosts-helper hide </usr/share/vantrel/vantrel_settings.txt >/dev/null
  cmp -s /etc/hosts "$WORK/hosts.with-block" || fail "the block was not added again"
  hold_lock -x
  DEBIAN_FRONTEND=noninteractive timeout 300 dpkg -P vantrel >"$WORK/dpkg.log" 2>&1 ||
    { cat "$WORK/dpkg.log"; fail "dpkg -P failed or hung under an exclusive lock"; }
  release_lock
'
grep -q "googlesyndication" "$work/hosts.with-block" || fail "the block held no ad domains"
dpkg-query -W -f='${Status}' vantrel 2>/dev/null | grep -q "install ok installed" && fail "the package is still installed"
[ ! -e /usr/libexec/vantrel/vantrel ] || fail "the program is still there after removal"
[ ! -e /var/lib/vantrel ] || fail "the approved list is still there after the purge"
cmp -s "$work/hosts" "$work/hosts.orig" || { diff "$work/hosts.orig" "$work/hosts" || true; fail "the block survived the package's removal"; }
[ "$(ls -l /run/vantrel-hosts.lock 2>/dev/null || true)" = "$lock_before" ] ||
  fail "the machine's own /run got a lock file"
echo "PASS package-test: installed, validated, and the purge took the block out of the hosts file and the approved list away"
