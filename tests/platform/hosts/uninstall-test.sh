#!/usr/bin/env bash
# The built program with "-uninstall", without any display: the block goes and it ends with
# status 0; a block that stays is status 2 and one line on standard error (the words themselves:
# HostsFileContract.h); every other form of the argument is a normal start that leaves the file
# alone.
# Usage: uninstall-test.sh <dir with vantrel>
set -uo pipefail

fail() { echo "FAIL: $*"; exit 1; }
vantrel=$1/vantrel
T=$(mktemp -d /tmp/vantrel-uninstall-XXXXXX)
trap 'rm -rf "$T"' EXIT
cd "$T"
export VANTREL_HOSTS_FILE=$T/hosts
# A normal start below is the session's Vantrel: in a runtime folder of its own.
mkdir -m 700 "$T/run"
export XDG_RUNTIME_DIR=$T/run
unset DISPLAY WAYLAND_DISPLAY
uninstall() { env -u QT_QPA_PLATFORM timeout 60 "$vantrel" -uninstall "$@" 2>"$T/err"; }

printf '127.0.0.1 localhost\r\n# Begin Vantrel\r\n0.0.0.0 googlesyndication.com\r\n\r\n# End Vantrel' >hosts
uninstall || fail "status $? with a block to remove: $(cat err)"
[ "$(cat hosts)" = "127.0.0.1 localhost" ] && [ ! -s err ] || fail "the block did not go: $(cat hosts)"
inode=$(stat -c %i hosts)
uninstall extra || fail "status $? without a block"
[ "$(stat -c %i hosts)" = "$inode" ] || fail "the file was rewritten without a block"
rm hosts
uninstall || fail "status $? without a hosts file"

printf '127.0.0.1 localhost\n# Begin Vantrel\n0.0.0.0 a.example\n' >hosts
cp hosts damaged
uninstall
status=$?
[ $status -eq 2 ] || fail "status $status, not 2, for a damaged block"
[ "$(wc -l <err)" -eq 1 ] && grep -q "^vantrel: the block in $T/hosts is damaged: line 2 " err ||
  fail "not one line on standard error: $(cat err)"
cmp -s hosts damaged || fail "a damaged block was changed"

# A block -uninstall would remove: a normal start leaves it.
printf '127.0.0.1 localhost\r\n# Begin Vantrel\r\n0.0.0.0 x\r\n# End Vantrel' | tee hosts >whole
inode=$(stat -c %i hosts)
normal_start() {
  QT_QPA_PLATFORM=offscreen timeout 1.5 "$vantrel" "$@" >/dev/null 2>&1
  cmp -s hosts whole && [ "$(stat -c %i hosts)" = "$inode" ] || fail "\"$*\" changed the file"
}
normal_start -Uninstall
normal_start /uninstall
normal_start uninstall
normal_start "-uninstall "
normal_start x -uninstall
echo PASS
