#!/usr/bin/env bash
# Installs the Debian 12 packages needed to build, run and test Tern.
set -euo pipefail
packages=(
  build-essential cmake pkg-config
  libgtk2.0-dev libftdi1-dev
  libgtest-dev libgmock-dev libbenchmark-dev
  clang libclang-rt-14-dev python3-crcmod
  xvfb xauth xdotool imagemagick dbus
  at-spi2-core libatk-adaptor libgail-common python3-pyatspi
  dpkg-dev file lintian x11-utils
  zlib1g-dev sigrok-cli
  libcli11-dev nlohmann-json3-dev libcsv-dev
  python3-jsonschema libreoffice-calc-nogui
)
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  SUDO=""
  [ "$(id -u)" -eq 0 ] || SUDO="sudo"
  $SUDO env DEBIAN_FRONTEND=noninteractive apt-get update -q
  $SUDO env DEBIAN_FRONTEND=noninteractive apt-get install -y -q --no-install-recommends "${missing[@]}"
fi
