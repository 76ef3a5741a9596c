#!/usr/bin/env bash
# The network-change announcement of the privileged helper never leaves its throwaway loopback
# address behind: killed (SIGKILL) while it holds the address, the kernel deletes the address
# by itself a few seconds later; an address with Vantrel's label left by anything else is removed
# by the next run, the same address without that label is not.
# The helper's other addresses and the hosts change itself are checked too. Runs in private
# mount and network namespaces over a scratch copy of /etc and a /run and /var/lib of their own;
# exits 77 (skipped) where it cannot.
# Usage: throwaway-address-test.sh <dir with vantrel-hosts-helper>
set -uo pipefail

skip() { echo "SKIP: $*"; exit 77; }
fail() { echo "FAIL: $*"; exit 1; }
readonly ADDR=127.255.255.254

if [ -z "${VANTREL_THROWAWAY_TEST_NS:-}" ]; then
  [ "$(id -u)" -eq 0 ] || skip "needs root for network and mount namespaces"
  command -v ip >/dev/null || skip "ip (iproute2) is not installed"
  unshare -m -n --propagation private true 2>/dev/null || skip "cannot create namespaces here"
  exec env VANTREL_THROWAWAY_TEST_NS=1 unshare -m -n --propagation private "$0" "$@"
fi

helper=$1/vantrel-hosts-helper
[ -x "$helper" ] || fail "no helper at $helper"
T=$(mktemp -d /tmp/vantrel-throwaway-XXXXXX)
pids=()
cleanup() {
  for pid in "${pids[@]}"; do kill -9 "$pid" 2>/dev/null; done
  umount /etc 2>/dev/null
  rm -rf "$T"
}
trap cleanup EXIT

mkdir "$T/etc"
cp -a /etc/. "$T/etc/" 2>/dev/null
rm -f "$T/etc/hosts"
printf '127.0.0.1\tlocalhost\n' >"$T/etc/hosts"
mount --bind "$T/etc" /etc || fail "cannot bind the scratch /etc"
# The helper's lock goes into /run, the list it approves into /var/lib: this namespace's own.
mount -t tmpfs -o mode=0755 tmpfs /run || fail "cannot mount a private /run"
mount -t tmpfs -o mode=0755 tmpfs /var/lib || fail "cannot mount a private /var/lib"
ip link set lo up && ip addr add 192.0.2.10/24 dev lo || fail "cannot configure loopback"

# A browser to move: the helper announces nothing while the user runs none. A copy of the
# Python interpreter named like Chromium, holding a socket.
cp "$(readlink -f /usr/bin/python3)" "$T/chromium"
"$T/chromium" -c 'import socket, time; s = socket.socket(); time.sleep(120)' &
pids+=($!)
sleep 0.5

# Read whole before matching: grep -q would end the pipe early (pipefail).
has_addr() { [[ $(ip -o -4 addr show dev lo) == *" $ADDR/32 "* ]]; }
others() { ip -o addr show | grep -v " $ADDR/32 " | sed 's/ *valid_lft.*//'; }
before=$(others)

# 1. Killed while it holds the address.
printf '0.0.0.0 ads.example\n' | "$helper" hide --reconnect 127.0.0.2 ::2 >/dev/null &
helper_pid=$!
pids+=($helper_pid)
for _ in $(seq 1 200); do
  has_addr && break
  sleep 0.02
done
has_addr || fail "the helper never added $ADDR to lo"
[[ $(ip -o -4 addr show dev lo) =~ $ADDR/32[^$'\n']*valid_lft\ [0-9]+sec ]] ||
  fail "the throwaway address has no lifetime: $(ip -o -4 addr show dev lo | grep " $ADDR/")"
kill -9 "$helper_pid"
wait "$helper_pid" 2>/dev/null
killed_at=$SECONDS
grep -q '^# Begin Vantrel' /etc/hosts || fail "the hosts file was not changed before the announcement"
has_addr || fail "the address was already gone when the helper was killed (the kill came too late)"
for _ in $(seq 1 100); do
  has_addr || break
  sleep 0.1
done
has_addr && fail "$ADDR outlived the killed helper by 10 s"
echo "PASS: killed while holding $ADDR: the kernel removed it $((SECONDS - killed_at)) s later"

# 2. A left-over address without a lifetime: the next run removes it, and leaves none itself.
ip addr add $ADDR/32 dev lo label lo:vantrel || fail "cannot add the left-over address"
"$helper" approved show --reconnect 127.0.0.2 </dev/null >/dev/null
status=$?
[ $status -eq 0 ] || fail "the helper's show ended with $status"
grep -q 'Begin Vantrel' /etc/hosts && fail "the block was not removed"
has_addr && fail "$ADDR is still on lo after a complete run"
echo "PASS: a complete run removed a left-over $ADDR and left none of its own"

# 3. The same address given to lo by an administrator (no label, or another one) is not
# Vantrel's: a run leaves it where it is.
for label in "" "label lo:admin"; do
  # shellcheck disable=SC2086
  ip addr add $ADDR/32 dev lo $label || fail "cannot add the administrator's address"
  "$helper" approved show --reconnect 127.0.0.2 </dev/null
  has_addr || fail "the helper removed an administrator's $ADDR (${label:-no label})"
  ip addr del $ADDR/32 dev lo || fail "cannot remove the administrator's address"
done
echo "PASS: an administrator's $ADDR without Vantrel's label stays"

# 4. Nothing else on the interfaces changed; bad addresses change nothing at all.
[ "$(others)" = "$before" ] || fail "other addresses changed: $(diff <(echo "$before") <(others))"
printf '0.0.0.0 ads.example\n' | "$helper" hide --reconnect 127.0.0.2 not-an-address
status=$?
[ $status -ne 0 ] || fail "the helper accepted a bad address"
grep -q 'Begin Vantrel' /etc/hosts && fail "a refused call changed the hosts file"
echo "PASS: the other addresses are untouched; a bad address is refused before any change"
