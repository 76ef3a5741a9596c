#!/usr/bin/env bash
# Runs a Windows test program under Wine with two https servers on 127.0.0.1 (openssl s_server):
# one whose certificate a CA made for this run signed (the test adds that CA to the Wine
# prefix's own Root store, never the machine's), and one signed by another CA. The trusted one
# also serves upgrade pages and a setup signed by a throwaway maker's key.
# https_test.sh <test.exe> <source dir> [<fake setup.exe>] [gtest arguments]
set -euo pipefail
program=$1
source_dir=$2
shift 2
fake_setup=
if [ $# -gt 0 ] && [ "${1%.exe}" != "$1" ]; then fake_setup=$1; shift; fi
work=$(mktemp -d)
pids=()
prefix=
cleanup() {
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
  # The run's CA leaves the prefix's Root store (kept in its registry by thumbprint).
  if [ -n "$prefix" ] && [ -f "$work/ca.pem" ]; then
    thumb=$(openssl x509 -in "$work/ca.pem" -noout -fingerprint -sha1 | sed 's/.*=//; s/://g')
    WINEPREFIX=$prefix WINEDEBUG=-all wine reg delete \
      "HKLM\\Software\\Microsoft\\SystemCertificates\\Root\\Certificates\\$thumb" /f \
      >/dev/null 2>&1 || true
  fi
  rm -rf "$work"
}
trap cleanup EXIT
cd "$work"
# The build folder's prefix, as wine-run.sh finds it.
dir=$(cd "$(dirname "$program")" && pwd)
while [ "$dir" != / ] && [ ! -f "$dir/CMakeCache.txt" ]; do dir=$(dirname "$dir"); done
prefix=${VANTREL_WINE_PREFIX:-$dir/wine-prefix}

make_ca() {  # name
  openssl req -x509 -newkey ec -pkeyopt ec_paramgen_curve:P-256 -nodes -keyout "$1.key" \
    -out "$1.pem" -subj "/CN=Vantrel test CA $1" -days 2 \
    -addext basicConstraints=critical,CA:TRUE -addext keyUsage=critical,keyCertSign 2>/dev/null
}
make_server() {  # ca name
  # Revocation is checked: the certificate names where its CA's list of revoked ones is.
  openssl req -newkey ec -pkeyopt ec_paramgen_curve:P-256 -nodes -keyout "$2.key" -out "$2.csr" \
    -subj /CN=localhost 2>/dev/null
  printf 'subjectAltName=DNS:localhost\nextendedKeyUsage=serverAuth\n' >"$2.ext"
  printf 'crlDistributionPoints=URI:http://127.0.0.1:%s/%s.crl\n' "$crl_port" "$1" >>"$2.ext"
  openssl x509 -req -in "$2.csr" -CA "$1.pem" -CAkey "$1.key" -CAcreateserial -days 2 \
    -extfile "$2.ext" -out "$2.pem" 2>/dev/null
}
# Serves the files of the folder; each holds a whole answer, head included.
serve() {  # name [port] -> sets port
  mkdir -p "root-$1"
  printf 'HTTP/1.0 200 OK\r\nContent-Length: 7\r\n\r\nsecure\n' >"root-$1/page"
  printf 'HTTP/1.0 302 Found\r\nLocation: http://127.0.0.1:1/page\r\n\r\n' >"root-$1/to-http"
  (cd "root-$1" && exec openssl s_server -accept "127.0.0.1:${2:-0}" -cert "../$1.pem" \
    -key "../$1.key" -HTTP >"../$1.log" 2>&1) &
  pids+=($!)
  for _ in $(seq 50); do
    # "ACCEPT 127.0.0.1:<port>" for a port of its choice, "ACCEPT" for the one it was given.
    port=$(sed -n 's/^ACCEPT 127.0.0.1:\([0-9]*\)$/\1/p' "$1.log")
    [ -z "$port" ] && [ -n "${2:-}" ] && grep -qx ACCEPT "$1.log" && port=$2
    [ -n "$port" ] && break
    sleep 0.1
  done
  [ -n "$port" ] || { echo "openssl s_server did not start" >&2; cat "$1.log" >&2; exit 1; }
}
# The CA's (empty) revocation list, served by the test program on this port.
make_crl() {  # ca
  mkdir -p "db-$1"
  : >"db-$1/index.txt"
  echo 01 >"db-$1/crlnumber"
  printf '[ca]\ndefault_ca=test\n[test]\ndatabase=db-%s/index.txt\ncrlnumber=db-%s/crlnumber\ndefault_md=sha256\ndefault_crl_days=2\n' \
    "$1" "$1" >"$1.cnf"
  openssl ca -config "$1.cnf" -gencrl -keyfile "$1.key" -cert "$1.pem" -out "$1.crl.pem" 2>/dev/null
  openssl crl -in "$1.crl.pem" -outform DER -out "$1.crl"
}
crl_port=
for _ in $(seq 20); do
  candidate=$((20000 + RANDOM % 40000))
  # Free when nothing answers a connection there (bash's own /dev/tcp, no extra tool).
  (exec 3<>"/dev/tcp/127.0.0.1/$candidate") 2>/dev/null || { crl_port=$candidate; break; }
done
[ -n "$crl_port" ] || { echo "no free port" >&2; exit 1; }
make_ca ca
make_ca other-ca
make_crl ca
make_crl other-ca
make_server ca trusted
make_server other-ca untrusted
openssl x509 -in ca.pem -outform DER -out ca.der
# The upgrade test's program was built for a page on a fixed port; elsewhere any port does.
e2e_port=${VANTREL_E2E_PORT:-}
if [ -n "$e2e_port" ] && (exec 3<>"/dev/tcp/127.0.0.1/$e2e_port") 2>/dev/null; then
  echo "port $e2e_port is taken: the installed program's own upgrade is skipped" >&2
  e2e_port=
fi
serve trusted "$e2e_port"
[ -n "$e2e_port" ] || unset VANTREL_KEYED_SETUP
trusted_port=$port
serve untrusted
untrusted_port=$port

# Upgrade pages: a setup, its digest, and signatures by the maker's key and by another key.
if [ -n "$fake_setup" ]; then
  root=root-trusted
  base="https://localhost:$trusted_port"
  # The key the upgrade test's program was built with, else one for this run.
  if [ -n "${VANTREL_E2E_DIR:-}" ]; then
    cp "$VANTREL_E2E_DIR/maker.key" maker.key
  else
    openssl genpkey -algorithm EC -pkeyopt ec_paramgen_curve:P-256 -out maker.key 2>/dev/null
  fi
  openssl genpkey -algorithm EC -pkeyopt ec_paramgen_curve:P-256 -out stranger.key 2>/dev/null
  openssl pkey -in maker.key -pubout -out maker.pub
  cmake -DPEM=maker.pub -DOUT=maker.point -P "$source_dir/cmake/P256PublicPoint.cmake"
  answer() {  # body file -> a whole answer on stdout
    printf 'HTTP/1.0 200 OK\r\nContent-Length: %s\r\n\r\n' "$(stat -c %s "$1")"
    cat "$1"
  }
  openssl dgst -sha256 -sign maker.key -out setup.sig "$fake_setup"
  openssl dgst -sha256 -sign stranger.key -out stranger.sig "$fake_setup"
  mkdir -p "$root/signed-by-another"
  answer "$fake_setup" >"$root/setup.exe"
  answer setup.sig >"$root/setup.exe.sig"
  answer "$fake_setup" >"$root/signed-by-another/setup.exe"
  answer stranger.sig >"$root/signed-by-another/setup.exe.sig"
  digest=$(sha256sum "$fake_setup" | cut -c1-64)
  page() {  # name version link digest
    printf '<html><body>\n<!-- UPGRADE Version\n%s\n-->\n<!-- UPGRADE Description\nFaster.\nEND UPGRADE Description -->\n<!-- UPGRADE Download Link\n%s\n-->\n<!-- UPGRADE SHA256\n%s\n-->\n</body></html>\n' \
      "$2" "$3" "$4" >"page-$1"
    answer "page-$1" >"$root/$1"
  }
  page newer 1.1 "$base/setup.exe" "$digest"
  page stranger 1.1 "$base/signed-by-another/setup.exe" "$digest"
  # An older setup the maker once signed, served where the page offers 2.0.
  old_setup=$(dirname "$fake_setup")/fake_setup_old.exe
  if [ -f "$old_setup" ]; then
    mkdir -p "$root/old"
    openssl dgst -sha256 -sign maker.key -out old.sig "$old_setup"
    answer "$old_setup" >"$root/old/setup.exe"
    answer old.sig >"$root/old/setup.exe.sig"
    page downgrade 2.0 "$base/old/setup.exe" "$(sha256sum "$old_setup" | cut -c1-64)"
  fi
  # The real setup program, signed by the maker, for the upgrade that installs it.
  if [ -n "${VANTREL_REAL_SETUP:-}" ]; then
    mkdir -p "$root/real"
    openssl dgst -sha256 -sign maker.key -out real.sig "$VANTREL_REAL_SETUP"
    answer "$VANTREL_REAL_SETUP" >"$root/real/setup.exe"
    answer real.sig >"$root/real/setup.exe.sig"
    page real-newer 1.1 "$base/real/setup.exe" "$(sha256sum "$VANTREL_REAL_SETUP" | cut -c1-64)"
  fi
fi

VANTREL_HTTPS_DIR="Z:$work" \
VANTREL_CRL_PORT="$crl_port" \
VANTREL_HTTPS_URL="https://localhost:$trusted_port" \
VANTREL_HTTPS_UNTRUSTED_URL="https://localhost:$untrusted_port" \
  ${VANTREL_WINE_RUN:-"$source_dir/scripts/wine-run.sh"} "$program" "$@"
