#!/usr/bin/env bash
# Makes two throwaway P-256 keys, signs a file with each as the maker does, and runs the BCrypt
# checks of the Windows program on them under Wine.
# signature_test.sh <win_signature_test.exe> <source dir>
set -euo pipefail
program=$1
source_dir=$2
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"
openssl genpkey -algorithm EC -pkeyopt ec_paramgen_curve:P-256 -out maker.key 2>/dev/null
openssl genpkey -algorithm EC -pkeyopt ec_paramgen_curve:P-256 -out other.key 2>/dev/null
openssl pkey -in maker.key -pubout -out maker.pub
head -c 300000 /dev/urandom >setup.exe
cp setup.exe changed.exe
printf 'x' >>changed.exe
openssl dgst -sha256 -sign maker.key -out setup.exe.sig setup.exe
openssl dgst -sha256 -sign other.key -out other.sig setup.exe
sha256sum setup.exe >setup.sha256
# The key as the build embeds it: the point at the end of the public key's DER.
cmake -DPEM=maker.pub -DOUT=maker.point -P "$source_dir/cmake/P256PublicPoint.cmake"
VANTREL_SIGNATURE_DIR="Z:$work" "$source_dir/scripts/wine-run.sh" "$program"
