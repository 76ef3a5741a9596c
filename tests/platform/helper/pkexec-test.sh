#!/usr/bin/env bash
# The pkexec path for real: in a private mount namespace, with a scratch copy of all of /etc
# bind-mounted over /etc (so the helper's temporary and backup files land in the copy) and a
# temporary file bind-mounted over its hosts file (a container's bind mount: the in-place path),
# a system D-Bus and polkitd of its own and a polkit rule that grants one test user, that user's
# toggles add and remove the block through the privileged helper (the settings file's comment and
# blank line left out); a user without the grant changes nothing; the helper refuses lines that
# would send a name anywhere but to this PC, and the user is told. Also checks that the helper
# ignores VANTREL_HOSTS_FILE. Never touches the
# machine's own /etc, /run, bus or polkit: /run is a tmpfs of the namespace's own. A lock that
# another account holds on /etc/hosts, shared or exclusive, holds up no Hide, Show or -uninstall;
# a lock file that another account could hold is not used; two presses of Hide at once both end
# with ads hidden and one block. In an active local session (what logind would have written, in
# this /run, and a cgroup of the test's own), the approved list is hidden and shown with no agent
# asked; a changed list asks the session's agent for an administrator's password and, given it,
# becomes the approved list; lines passed through the user's own action are refused; an inactive
# session is refused. The approved list goes to a /var/lib of the namespace's own.
# Exits 77 (skipped), saying why, where it cannot run.
# Usage: pkexec-test.sh <dir with vantrel-hosts-helper> <dir with vantrel_hosts_toggle> <source dir>
#        <dir with vantrel>
set -euo pipefail

skip() { echo "SKIP: $*"; exit 77; }
fail() { echo "FAIL: $*"; exit 1; }

if [ -z "${VANTREL_PKEXEC_TEST_NS:-}" ]; then
  [ "$(id -u)" -eq 0 ] || skip "needs root to bind-mount over /etc/hosts and start polkitd"
  command -v unshare >/dev/null || skip "unshare is not installed"
  unshare -m --propagation private true 2>/dev/null || skip "cannot create a mount namespace here"
  # The program runs this one, by its absolute path.
  pkexec=/usr/bin/pkexec
  [ -x "$pkexec" ] || skip "pkexec is not installed"
  [ -u "$pkexec" ] || skip "pkexec is not setuid root"
  [ -x /usr/lib/polkit-1/polkitd ] || skip "polkitd is not installed"
  command -v dbus-daemon >/dev/null && command -v dbus-send >/dev/null || skip "dbus is not installed"
  command -v setpriv >/dev/null || skip "setpriv is not installed"
  for tool in pkttyagent script openssl; do command -v $tool >/dev/null || skip "$tool is not installed"; done
  [ -d /etc/polkit-1/rules.d ] && [ -d /usr/share/polkit-1/actions ] || skip "polkit folders are missing"
  exec env VANTREL_PKEXEC_TEST_NS=1 unshare -m --propagation private "$0" "$@"
fi

helper_dir=$1 toggle_dir=$2 source_dir=$3 program_dir=$(realpath "$4")
T=$(mktemp -d /tmp/vantrel-pkexec-XXXXXX)
chmod 755 "$T"
pids=()
cgroup=
cleanup() {
  # The login session's cgroup is the machine's: emptied and removed.
  if [ -n "$cgroup" ]; then
    for pid in $(cat "$cgroup"/*/*/*/cgroup.procs 2>/dev/null); do pids+=("$pid"); done
  fi
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
  for pid in "${pids[@]}"; do while kill -0 "$pid" 2>/dev/null; do sleep 0.1; done; done
  [ -z "$cgroup" ] || find "$cgroup" -depth -type d -exec rmdir {} + 2>/dev/null || true
  # The copy of /etc is mounted from inside $T; the namespace ends with this script anyway.
  umount -R /etc 2>/dev/null || true
  rm -rf "$T"
}
trap cleanup EXIT

# The program and its helper side by side, as installed; the toggle finds the helper beside it.
cp "$helper_dir/vantrel-hosts-helper" "$toggle_dir/vantrel_hosts_toggle" "$T/"
mkdir -m 755 "$T/home"
# The shipped list with a comment and a blank line, which the block leaves out.
{ printf '# Ads that Vantrel hides\n\n'; cat "$source_dir/res/vantrel_settings.txt"; } >"$T/home/vantrel_settings.txt"
chmod 644 "$T/home/vantrel_settings.txt"

# Everything below happens in the copy of /etc, never in the machine's own.
cp -a /etc "$T/etc"
mount --bind "$T/etc" /etc
[ "$(stat -c %i /etc)" = "$(stat -c %i "$T/etc")" ] || fail "the copy of /etc is not in place"
# The system file's lock is made in /run, and the approved list kept in /var/lib: this
# namespace's own.
mount -t tmpfs -o mode=0755 tmpfs /run
mount -t tmpfs -o mode=0755 tmpfs /var/lib
lock=/run/vantrel-hosts.lock
approved=/var/lib/vantrel/approved-block

printf '127.0.0.1 localhost\n::1 localhost ip6-localhost\n' >"$T/hosts.orig"
cp "$T/hosts.orig" "$T/hosts"
chmod 644 "$T/hosts"
mount --bind "$T/hosts" /etc/hosts

# The block the program writes itself, for comparison.
cp "$T/hosts.orig" "$T/hosts.direct"
(cd "$T/home" && VANTREL_HOSTS_FILE="$T/hosts.direct" "$T/vantrel_hosts_toggle" >/dev/null)
{ cat "$T/hosts.orig"; echo '# Begin Vantrel'; cat "$source_dir/res/vantrel_settings.txt"; echo
  printf '# End Vantrel'; } | cmp -s - "$T/hosts.direct" || { cat "$T/hosts.direct"; fail "the program's own block is not the list's entries"; }

echo "== the helper writes /etc/hosts only, whatever the environment says"
cp "$T/hosts.orig" "$T/decoy"
(cat "$T/home/vantrel_settings.txt"; echo) | VANTREL_HOSTS_FILE="$T/decoy" "$T/vantrel-hosts-helper" hide >/dev/null
cmp -s "$T/decoy" "$T/hosts.orig" || fail "the helper wrote the file named by VANTREL_HOSTS_FILE"
cmp -s "$T/hosts" "$T/hosts.direct" || fail "the helper's block differs from the program's"
[ "$(stat -c '%F %u %a' "$lock")" = "regular empty file 0 600" ] || fail "the lock is not a root-only file"
# The lines that went in, comment and blank line left out, are the approved list now.
[ "$(stat -c '%U:%G %a' /var/lib/vantrel "$approved")" = "$(printf 'root:root 755\nroot:root 644')" ] ||
  fail "the approved list or its folder is not root's and readable by all"
{ cat "$source_dir/res/vantrel_settings.txt"; echo; } | cmp -s - "$approved" || fail "the approved list is not the list's entries"
VANTREL_HOSTS_FILE="$T/decoy" "$T/vantrel-hosts-helper" approved show </dev/null >/dev/null
cmp -s "$T/hosts" "$T/hosts.orig" || fail "the helper did not remove its block"

echo "== a private system bus and polkitd with a rule for the test user"
echo 'vantreltest:x:4242:4242:Vantrel test:/nonexistent:/usr/sbin/nologin' >>/etc/passwd
echo 'vantreltest:x:4242:' >>/etc/group
# The administrator whose password the session's agent is given: "secret".
echo 'vantreladmin:x:4243:4243:Vantrel admin:/nonexistent:/usr/sbin/nologin' >>/etc/passwd
echo "vantreladmin:$(openssl passwd -6 secret):19000:0:99999:7:::" >>/etc/shadow
printf 'auth required pam_unix.so\naccount required pam_unix.so\n' >/etc/pam.d/polkit-1
mkdir -p /run/dbus
find /etc/polkit-1/rules.d -mindepth 1 -delete
# Outside a login session the test user is granted both actions; inside one the policy decides,
# but the administrator is asked every time (no kept approval can hide a prompt).
cat >/etc/polkit-1/rules.d/10-vantrel-test.rules <<'RULE'
polkit.addAdminRule(function(action, subject) { return ["unix-user:vantreladmin"]; });
polkit.addRule(function(action, subject) {
  if (action.id.indexOf("org.vantrel.hosts-") != 0 || subject.user != "vantreltest") return;
  if (!subject.session) return polkit.Result.YES;
  if (action.id == "org.vantrel.hosts-helper") return polkit.Result.AUTH_ADMIN;
});
RULE
mkdir "$T/actions"
cp /usr/share/polkit-1/actions/* "$T/actions/" 2>/dev/null || true
sed "s|@VANTREL_INSTALLED_HELPER@|$T/vantrel-hosts-helper|" \
  "$source_dir/packaging/org.vantrel.hosts-helper.policy.in" >"$T/actions/org.vantrel.hosts-helper.policy"
mount --bind "$T/actions" /usr/share/polkit-1/actions

polkit_on_bus() {
  dbus-send --system --print-reply --dest=org.freedesktop.DBus /org/freedesktop/DBus \
    org.freedesktop.DBus.NameHasOwner string:org.freedesktop.PolicyKit1 2>/dev/null | grep -q 'boolean true'
}
pids+=("$(dbus-daemon --system --fork --print-pid)")
/usr/lib/polkit-1/polkitd --no-debug >"$T/polkitd.log" 2>&1 &
pids+=("$!")
for _ in $(seq 100); do
  polkit_on_bus && break
  kill -0 "${pids[1]}" 2>/dev/null || { cat "$T/polkitd.log"; skip "polkitd did not start here"; }
  sleep 0.1
done
polkit_on_bus || skip "polkitd never took its bus name"

# Without a controlling terminal, so pkexec can never ask for a password on one.
as_user() {
  local uid=$1
  shift
  (cd "$T/home" && setsid setpriv --reuid="$uid" --regid="$uid" --clear-groups "$T/vantrel_hosts_toggle" "$@" </dev/null)
}

echo "== the granted user hides ads through pkexec"
as_user 4242 || fail "the granted user's toggle failed"
cmp -s "$T/hosts" "$T/hosts.direct" || { cat "$T/hosts"; fail "the block through pkexec differs from the program's"; }
[ "$(stat -c '%u %a' "$T/hosts")" = "0 644" ] || fail "owner or mode of the hosts file changed"

echo "== a user without the grant changes nothing"
if as_user 65534; then fail "an unauthorised user's toggle reported success"; fi
cmp -s "$T/hosts" "$T/hosts.direct" || fail "an unauthorised user changed the hosts file"

echo "== the granted user shows ads again"
as_user 4242 || fail "the granted user's second toggle failed"
cmp -s "$T/hosts" "$T/hosts.orig" || { cat "$T/hosts"; fail "the block was not removed through pkexec"; }

echo "== the helper refuses a line that sends a name elsewhere, whoever asks"
printf '0.0.0.0 pagead2.googlesyndication.com\n203.0.113.66 login.mybank.example\n\n' >"$T/evil"
status=0
(cd "$T/home" && setsid setpriv --reuid=4242 --regid=4242 --clear-groups \
  /usr/bin/pkexec "$T/vantrel-hosts-helper" hide <"$T/evil" 2>"$T/helper.err") || status=$?
[ "$status" -eq 3 ] || { cat "$T/helper.err"; fail "the helper's status was $status, not 3 (refused)"; }
grep -q 'refused: line 2 ' "$T/helper.err" || { cat "$T/helper.err"; fail "the helper did not say which line"; }
cmp -s "$T/hosts" "$T/hosts.orig" || fail "the helper wrote a non-local address"

echo "== such a settings file is refused and the user is told"
cp "$T/home/vantrel_settings.txt" "$T/settings.shipped"
head -c -1 "$T/evil" >"$T/home/vantrel_settings.txt"
if as_user 4242 2>"$T/toggle.err"; then fail "a non-local address was hidden"; fi
grep -q 'line 2 of vantrel_settings.txt, "203.0.113.66 login.mybank.example"' "$T/toggle.err" ||
  { cat "$T/toggle.err"; fail "the user was not told which line was refused"; }
cmp -s "$T/hosts" "$T/hosts.orig" || fail "a refused list changed the hosts file"

echo "== a list with a trailing blank and a trailing-dot name is hidden"
printf 'pagead2.googlesyndication.com \n\nads.example.com.\n' >"$T/list"
chmod 644 "$T/list"
chmod 777 "$T/home"
chmod 666 "$T/home/vantrel_settings.txt"
as_user 4242 --save "$T/list" 0.0.0.0 || fail "the list was not saved and hidden"
{ cat "$T/hosts.orig"
  printf '# Begin Vantrel\n0.0.0.0 pagead2.googlesyndication.com\n:: pagead2.googlesyndication.com\n'
  printf '0.0.0.0 ads.example.com\n:: ads.example.com\n\n# End Vantrel'
} >"$T/hosts.list"
cmp -s "$T/hosts" "$T/hosts.list" || { cat "$T/hosts"; fail "the block is not the list's"; }
# Names are looked up in the hosts file only: no query leaves the machine.
sed -i 's/^hosts:.*/hosts: files/' /etc/nsswitch.conf
getent hosts ads.example.com | grep -qE '^(0\.0\.0\.0|::) ' || fail "the resolver does not see the block"
as_user 4242 || fail "the block of that list was not removed"
cmp -s "$T/hosts" "$T/hosts.orig" || fail "removing that block did not give the file back"

echo "== two presses of Hide at once: both end with ads hidden, and the file holds one block"
as_user 4242 hide >"$T/first.out" & first=$!
as_user 4242 hide >"$T/second.out" & second=$!
wait "$first" || fail "the first of two Hides at once failed"
wait "$second" || fail "the second of two Hides at once failed"
[ "$(cat "$T/first.out" "$T/second.out")" = "$(printf 'hidden\nhidden')" ] || fail "a Hide did not end hidden"
cmp -s "$T/hosts" "$T/hosts.list" || { cat "$T/hosts"; fail "two Hides at once did not leave one block"; }
as_user 4242 show >/dev/null || fail "Show failed"

echo "== another account's lock on the hosts file, shared or exclusive, holds up nothing"
holder=
# The holder is one process (flock's own child would keep the lock after flock was killed); root
# sees it held once its own try fails.
hold_lock() {
  setpriv --reuid=65534 --regid=65534 --clear-groups \
    bash -c "exec 9</etc/hosts && flock $1 9 && exec sleep 600" &
  holder=$!
  pids+=("$holder")
  while flock -n -x /etc/hosts true; do sleep 0.05; done
}
release_lock() { kill "$holder"; wait "$holder" 2>/dev/null || true; }
for mode in -s -x; do
  hold_lock "$mode"
  timeout 60 bash -c "$(declare -f as_user); T='$T' as_user 4242 hide" >/dev/null 2>"$T/locked.err" ||
    { cat "$T/locked.err"; fail "Hide failed while another account held flock $mode on /etc/hosts"; }
  cmp -s "$T/hosts" "$T/hosts.list" || fail "Hide under flock $mode did not add the block"
  timeout 60 bash -c "$(declare -f as_user); T='$T' as_user 4242 show" >/dev/null 2>"$T/locked.err" ||
    { cat "$T/locked.err"; fail "Show failed while another account held flock $mode on /etc/hosts"; }
  cmp -s "$T/hosts" "$T/hosts.orig" || fail "Show under flock $mode did not remove the block"
  as_user 4242 hide >/dev/null || fail "Hide failed"
  (cd "$T/home" && timeout 60 env -u VANTREL_HOSTS_FILE "$program_dir/vantrel" -uninstall 2>"$T/locked.err") ||
    { cat "$T/locked.err"; fail "-uninstall failed while another account held flock $mode on /etc/hosts"; }
  cmp -s "$T/hosts" "$T/hosts.orig" || fail "-uninstall under flock $mode did not remove the block"
  release_lock
done

echo "== a lock file that another account could hold is not used"
for plant in "install -m 0666 -o 65534 /dev/null $lock" "ln -s /etc/hosts $lock" "mkfifo -m 0600 $lock"; do
  rm -f "$lock"
  $plant
  if as_user 4242 hide >/dev/null 2>&1; then fail "Hide used a lock made by: $plant"; fi
  cmp -s "$T/hosts" "$T/hosts.orig" || fail "Hide changed the hosts file with a lock made by: $plant"
done
rm -f "$lock"
as_user 4242 hide >/dev/null || fail "Hide failed once the planted lock was gone"
as_user 4242 show >/dev/null || fail "Show failed once the planted lock was gone"

echo "== an active session: the approved list needs nobody, a changed one asks an administrator"
for root in /sys/fs/cgroup /sys/fs/cgroup/unified /sys/fs/cgroup/systemd; do
  # The hierarchy logind's readers take a process's session from: cgroup v2 if there is one.
  case $(stat -f -c %T "$root" 2>/dev/null) in cgroup2fs | cgroupfs) break ;; esac
  root=
done
scope=$root/vantrel-test-$$.slice/user.slice/user-4242.slice/session-vt1.scope
[ -n "$root" ] && mkdir -p "$scope" 2>/dev/null || skip "no cgroup can be made to hold a login session here"
cgroup=$root/vantrel-test-$$.slice
session() {
  mkdir -p /run/systemd/sessions /run/systemd/users /run/systemd/system
  printf 'UID=4242\nUSER=vantreltest\nACTIVE=%s\nSTATE=%s\nREMOTE=0\nTYPE=x11\nCLASS=user\nSEAT=seat0\n' \
    "$1" "$2" >/run/systemd/sessions/vt1
  printf 'NAME=vantreltest\nSTATE=%s\nSESSIONS=vt1\nACTIVE_SESSIONS=%s\nDISPLAY=vt1\n' \
    "$2" "$([ "$1" = 0 ] || echo vt1)" >/run/systemd/users/4242
}
session 1 active
in_session() { (echo "$BASHPID" >"$scope/cgroup.procs" && "$@"); }
asked() { grep -c 'AUTHENTICATING FOR org.vantrel.hosts-helper' "$T/agent.log" 2>/dev/null || true; }
for press in hide show; do
  in_session as_user 4242 "$press" >/dev/null 2>"$T/press.err" || { cat "$T/press.err"; fail "the active user's $press failed"; }
done
cmp -s "$T/hosts" "$T/hosts.orig" || fail "the active user's presses did not leave the file as it was"

# A press with a changed list, started stopped so that an authentication agent (on a terminal of
# its own) can be registered for it first; the agent has registered once it closes the
# descriptor it was given.
printf 'pagead2.googlesyndication.com\nads.example.net\n' >"$T/list2"
chmod 644 "$T/list2"
(echo "$BASHPID" >"$scope/cgroup.procs" && cd "$T/home" &&
  exec setsid setpriv --reuid=4242 --regid=4242 --clear-groups sh -c 'kill -STOP $$ && exec "$@"' \
    - "$T/vantrel_hosts_toggle" --save "$T/list2" 0.0.0.0) </dev/null >/dev/null 2>"$T/press.err" &
press=$!
until [ "$(cut -d' ' -f3 "/proc/$press/stat" 2>/dev/null)" = T ]; do
  kill -0 "$press" 2>/dev/null || fail "the press did not start"
  sleep 0.05
done
mkfifo "$T/agent.in" "$T/agent.ready"
exec 8<>"$T/agent.in"
script -qfec "exec pkttyagent --process $press --notify-fd 9 9>$T/agent.ready" "$T/agent.log" <&8 >/dev/null &
pids+=("$!")
cat "$T/agent.ready"
kill -CONT "$press"
until grep -q 'Password:' "$T/agent.log"; do kill -0 "$press" 2>/dev/null || break; sleep 0.1; done
echo secret >&8
wait "$press" || { cat "$T/press.err" "$T/agent.log"; fail "the changed list was not hidden with the administrator's password"; }
[ "$(asked)" = 1 ] || { cat "$T/agent.log"; fail "the agent was not asked once for the changed list"; }
grep -qx '0.0.0.0 ads.example.net' "$T/hosts" || { cat "$T/hosts"; fail "the changed list's block is not in the file"; }
# The block's lines, as the settings file holds them, are the approved list now.
sed -n '/^# Begin Vantrel$/,/^# End Vantrel$/{//!p}' "$T/hosts" | cmp -s - "$approved" ||
  fail "the changed list did not become the approved list"
cp "$T/hosts" "$T/hosts.list2"
in_session as_user 4242 show >/dev/null && in_session as_user 4242 hide >/dev/null || fail "the new approved list was not shown and hidden"
cmp -s "$T/hosts" "$T/hosts.list2" && [ "$(asked)" = 1 ] || fail "the new approved list asked again or was not written"

echo "== lines through the user's own action are refused; an inactive session is refused"
in_session as_user 4242 show >/dev/null || fail "Show failed"
status=0
in_session setsid setpriv --reuid=4242 --regid=4242 --clear-groups \
  /usr/bin/pkexec "$T/vantrel-hosts-helper" approved hide <"$T/evil" 2>"$T/helper.err" || status=$?
[ "$status" -eq 2 ] || { cat "$T/helper.err"; fail "lines through the user's own action gave status $status, not 2"; }
cmp -s "$T/hosts" "$T/hosts.orig" || fail "lines through the user's own action changed the file"
session 0 online
if in_session as_user 4242 hide >/dev/null 2>&1; then fail "an inactive session hid ads"; fi
cmp -s "$T/hosts" "$T/hosts.orig" && [ "$(asked)" = 1 ] || fail "an inactive session changed the file or asked"

leftovers=$(find /etc -maxdepth 1 -name '.hosts.vantrel-*')
[ -z "$leftovers" ] || fail "left beside the hosts file: $leftovers"
echo "PASS"
