#!/usr/bin/env bash
# The system resolver sees the block: as root, in a private mount namespace where a copy of /etc
# with a file of its own bind-mounted over /etc/hosts (the in-place path) stands in for the real
# one and a /run of its own holds the lock, the program's own Hide (root needs no helper) makes
# every shipped name resolve to 0.0.0.0 and nothing else, and its Show gives the file back byte
# for byte. The machine's own /etc and /run are never touched. Exits 77 (skipped) where it
# cannot run.
# Usage: resolver-test.sh <dir with vantrel_hosts_toggle> <source dir>
set -euo pipefail

skip() { echo "SKIP: $*"; exit 77; }
fail() { echo "FAIL: $*"; exit 1; }

if [ -z "${VANTREL_RESOLVER_TEST_NS:-}" ]; then
  [ "$(id -u)" -eq 0 ] || skip "needs root for a private mount namespace"
  unshare -m --propagation private true 2>/dev/null || skip "cannot create a mount namespace here"
  exec env VANTREL_RESOLVER_TEST_NS=1 unshare -m --propagation private "$0" "$@"
fi

toggle=$1/vantrel_hosts_toggle source_dir=$2
T=$(mktemp -d /tmp/vantrel-resolver-XXXXXX)
trap 'umount /etc/hosts /etc /run 2>/dev/null; rm -rf "$T"' EXIT
mkdir "$T/etc" "$T/home"
for name in nsswitch.conf host.conf gai.conf resolv.conf; do
  cp "/etc/$name" "$T/etc/" 2>/dev/null || true
done
# Names are looked up in the hosts file only: no query leaves the machine.
echo 'hosts: files' >"$T/etc/nsswitch.conf"
: >"$T/etc/hosts"
printf '127.0.0.1 localhost\n::1 localhost\n' | tee "$T/hosts" >"$T/hosts.orig"
cp "$source_dir/res/vantrel_settings.txt" "$T/home/"
mount --bind "$T/etc" /etc && mount --bind "$T/hosts" /etc/hosts || skip "bind mounts failed"
mount -t tmpfs -o mode=0755 tmpfs /run || skip "cannot mount a private /run"

cd "$T/home"
env -u VANTREL_HOSTS_FILE "$toggle" hide >/dev/null || fail "Hide failed"
[ "$(stat -c '%F %u %a' /run/vantrel-hosts.lock)" = "regular empty file 0 600" ] ||
  fail "the system file was not locked through a root-only file in /run"
names=$(grep '^0\.0\.0\.0 ' vantrel_settings.txt | cut -d' ' -f2)
[ "$(echo "$names" | wc -l)" -ge 13 ] || fail "the shipped list is shorter than expected"
for name in $names; do
  [ "$(getent ahostsv4 "$name" | cut -d' ' -f1 | sort -u)" = 0.0.0.0 ] ||
    fail "$name does not resolve to 0.0.0.0 alone with the block"
done
env -u VANTREL_HOSTS_FILE "$toggle" show >/dev/null || fail "Show failed"
cmp -s "$T/hosts" "$T/hosts.orig" || fail "Show did not give the file back"
for name in $names; do
  if getent ahostsv4 "$name" >/dev/null; then fail "$name still resolves without the block"; fi
done
[ -z "$(find "$T/etc" -maxdepth 1 -name '.hosts.vantrel-*')" ] || fail "files left beside /etc/hosts"
echo PASS
