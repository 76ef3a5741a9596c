#!/bin/bash
# The program's start maps no library that only fetching or SVG drawing needs: libcurl and its
# TLS stack are loaded on the first fetch, and the pictures are rendered at build time.
# Usage: start_libraries.sh <vantrel executable>
set -u
exe=$1
libs=$(ldd "$exe") || { echo "FAIL: ldd $exe"; exit 1; }
bad=$(grep -E 'libcurl|libssl|libcrypto|libQt6Svg|libgnutls' <<<"$libs")
if [ -n "$bad" ]; then
    echo "FAIL: loaded at start:"
    echo "$bad"
    exit 1
fi
echo "PASS: $(wc -l <<<"$libs") libraries at start, none of them for fetching or SVG"
