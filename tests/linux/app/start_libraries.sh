#!/bin/bash
# What each program maps at start. `vantrel` maps no Qt and no X library, so "-uninstall" never
# loads them; the dialog program maps nothing that only fetching or SVG drawing needs: libcurl
# and its TLS stack are loaded on the first fetch, and the pictures are rendered at build time.
# Also: the entry program without the dialog program beside it says so and fails.
# Usage: start_libraries.sh <vantrel executable> <vantrel-dialog executable>
set -u
entry=$1
dialog=$2
fail() { echo "FAIL: $*"; exit 1; }

libs=$(ldd "$entry") || fail "ldd $entry"
bad=$(grep -E 'libQt|libxcb|libX11|libGL|libcurl|libssl|libcrypto' <<<"$libs")
[ -z "$bad" ] || fail "$entry maps at start: $bad"
entryCount=$(wc -l <<<"$libs")

libs=$(ldd "$dialog") || fail "ldd $dialog"
grep -q libQt6Widgets <<<"$libs" || fail "$dialog is not the Qt program"
bad=$(grep -E 'libcurl|libssl|libcrypto|libQt6Svg|libgnutls' <<<"$libs")
[ -z "$bad" ] || fail "$dialog maps at start: $bad"
dialogCount=$(wc -l <<<"$libs")

tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
cp "$entry" "$tmp/vantrel"
"$tmp/vantrel" --not-uninstall 2>"$tmp/err" </dev/null
status=$?
[ "$status" -ne 0 ] || fail "the entry program ended with 0 without its dialog program"
[ "$(wc -l <"$tmp/err")" -eq 1 ] && grep -q "vantrel-dialog" "$tmp/err" ||
  fail "expected one line naming the dialog program, got: $(cat "$tmp/err")"

echo "PASS: vantrel maps $entryCount libraries (no Qt), vantrel-dialog $dialogCount (none for fetching or SVG)"
