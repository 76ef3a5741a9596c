#!/usr/bin/env bash
# Installs every Debian package that building, testing and running Vantrel need.
# Idempotent: when everything is already there it only checks and returns.
set -euo pipefail

PACKAGES=(
  # build
  build-essential cmake ninja-build pkg-config make git
  qt6-base-dev qt6-base-dev-tools qt6-svg-dev libqt6svg6 qt6-image-formats-plugins
  libcurl4-openssl-dev libssl-dev openssl ca-certificates libxcb1-dev libmnl-dev
  libgtest-dev libgmock-dev googletest libcpp-httplib-dev
  # tests: ACLs on the hosts file's replacement (setfacl), a locale with a decimal comma
  acl locales
  # the Windows program: cross compiler, resource compiler, Wine for its tests, NSIS installer
  g++-mingw-w64-x86-64-posix binutils-mingw-w64-x86-64 wine wine64 nsis
  # its pictures, drawn from the SVGs at build time
  librsvg2-bin icoutils
  # running on a desktop
  xdg-utils fonts-liberation fonts-dejavu-core
  # end-to-end tests on a virtual display
  xvfb xauth xdotool openbox x11-utils x11-apps imagemagick iproute2
  # the tray tests' tray host (XEmbed)
  trayer
  # fuzzing and sanitizers
  clang-14 libclang-rt-14-dev
  # packaging and the privileged helper
  desktop-file-utils pkexec polkitd dbus dpkg-dev file lintian man-db groff-base
  # benchmarks (make bench): the reference tools
  curl time valgrind
)

# `install-deps.sh browsers` adds what the real-browser test needs (tests/linux/e2e, CI only).
if [ "${1:-}" = browsers ]; then
  PACKAGES+=(firefox-esr chromium dnsmasq-base iproute2 util-linux procps python3 python3-h2
    libnss3-tools)
fi

missing=()
for p in "${PACKAGES[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
SUDO=""
[ "$(id -u)" -eq 0 ] || SUDO="sudo"
if [ ${#missing[@]} -gt 0 ]; then
  echo "Installing: ${missing[*]}"
  export DEBIAN_FRONTEND=noninteractive
  $SUDO apt-get update -qq
  $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi

# The version reader is tested under a German locale, whose decimal separator is a comma.
if ! locale -a 2>/dev/null | grep -qix 'de_DE.utf8'; then
  $SUDO sed -i 's/^# *\(de_DE.UTF-8 UTF-8\)/\1/' /etc/locale.gen
  grep -q '^de_DE.UTF-8 UTF-8' /etc/locale.gen || echo 'de_DE.UTF-8 UTF-8' | $SUDO tee -a /etc/locale.gen >/dev/null
  $SUDO locale-gen >/dev/null
fi
