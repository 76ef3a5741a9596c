#!/usr/bin/env bash
# Runs the Windows lookup test with a hosts file of its own as the one the resolver reads. Wine
# answers GetAddrInfoW through the Linux resolver, so the file is bind-mounted over /etc/hosts in a
# private mount namespace (and a network namespace with loopback only, so no name reaches DNS).
# The machine's /etc/hosts is never touched. Needs root; skips (77) where namespaces are refused.
# lookup-check.sh <wine-run.sh> <test program> <scratch folder>
set -euo pipefail
wine_run=$1 program=$2 scratch=$3
mkdir -p "$scratch"
hosts=$scratch/resolver-hosts
cat >"$hosts" <<'HOSTS'
127.0.0.1 localhost
::1 localhost
192.0.2.7 elsewhere.example
# Begin Vantrel
0.0.0.0 pagead2.googlesyndication.com
:: pagead2.googlesyndication.com
0.0.0.0 googleads.g.doubleclick.net
:: googleads.g.doubleclick.net
127.0.0.1 only-ipv4.example
# End Vantrel
HOSTS
if [ "$(id -u)" != 0 ] || ! unshare -m -n true 2>/dev/null; then
  echo "lookup-check: needs root and unshare -m -n; skipped" >&2
  exit 77
fi
# The prefix's server creates Wine's sockets: one started inside the namespace must not outlive
# it, and one from outside must not be reused (nothing else runs beside this test).
export WINEPREFIX=${VANTREL_WINE_PREFIX:?}
wineserver -k 2>/dev/null || true
status=0
VANTREL_TEST_RESOLVER_HOSTS="Z:$hosts" unshare -m -n --propagation private bash -c '
  ip link set lo up 2>/dev/null || true
  mount --bind "$1" /etc/hosts || { echo "lookup-check: cannot bind-mount /etc/hosts; skipped" >&2; exit 77; }
  "$2" "$3" --gtest_filter=Lookups.*:DnsCache.*
  rc=$?
  wineserver -k 2>/dev/null || true
  exit $rc' lookup-check "$hosts" "$wine_run" "$program" || status=$?
exit $status
