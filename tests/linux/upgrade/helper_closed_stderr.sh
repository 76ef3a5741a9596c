#!/usr/bin/env bash
# The upgrade helper started with its standard error on a pipe whose reader has gone (a caller
# that stopped reading): refusing a package signed by another key, it must end with its refusal
# (status 3), not die of SIGPIPE halfway, and leave no copy of the package in /var/cache. Runs in
# a private mount namespace with a tmpfs over /var/cache, so the machine's own is never touched.
# Exits 77 (skipped), saying why, where it cannot run.
# Usage: helper_closed_stderr.sh <folder with the test key's vantrel-upgrade-helper>
set -euo pipefail
skip() { echo "SKIP: $*"; exit 77; }
fail() { echo "FAIL: $*"; exit 1; }

if [ -z "${VANTREL_CLOSED_STDERR_NS:-}" ]; then
  [ "$(id -u)" -eq 0 ] || skip "needs root for a private mount namespace"
  command -v python3 >/dev/null && command -v openssl >/dev/null || skip "python3 or openssl missing"
  unshare -m --propagation private true 2>/dev/null || skip "cannot create a mount namespace here"
  exec env VANTREL_CLOSED_STDERR_NS=1 unshare -m --propagation private "$0" "$@"
fi

helper=$(realpath "$1")/vantrel-upgrade-helper
[ -x "$helper" ] || fail "no helper at $helper"
mount -t tmpfs tmpfs /var/cache
T=$(mktemp -d /tmp/vantrel-closed-stderr-XXXXXX)
trap 'rm -rf "$T"' EXIT

head -c 100000 /dev/urandom >"$T/package.deb"
openssl genpkey -algorithm EC -pkeyopt ec_paramgen_curve:P-256 -out "$T/other.key" 2>/dev/null
openssl dgst -sha256 -sign "$T/other.key" -out "$T/package.sig" "$T/package.deb"
{ od -An -v -tx1 "$T/package.sig" | tr -d ' \n'; echo; cat "$T/package.deb"; } >"$T/input"

status=$(python3 - "$helper" "$T/input" <<'PY'
import os, subprocess, sys
read_end, write_end = os.pipe()
os.close(read_end)
# subprocess gives the child SIGPIPE at its default, as any caller's child has it.
result = subprocess.run([sys.argv[1], "vantrel", "1.1"], stdin=open(sys.argv[2], "rb"),
                        stdout=subprocess.DEVNULL, stderr=write_end)
print(result.returncode)
PY
)
[ "$status" = 3 ] || fail "the helper ended with $status, not 3 (refused)"
left=$(find /var/cache -mindepth 1 -maxdepth 1 -name 'vantrel-upgrade-*')
[ -z "$left" ] || fail "the helper left $left"
echo "PASS: with its standard error on a closed pipe the helper refused (status 3) and left nothing in /var/cache"
