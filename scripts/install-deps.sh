#!/usr/bin/env bash
# Installs the Debian packages the console needs to build, run and test. Does nothing when
# everything is already there. Uses apt-get as root, through sudo otherwise.
set -euo pipefail

packages=(
  make cmake g++ pkg-config
  qt6-base-dev qt6-serialport-dev libgl-dev
  libgtest-dev
  fonts-ipafont-gothic fonts-dejavu-core
  clang-14 libclang-rt-14-dev
  xvfb xauth socat util-linux procps
  ccache desktop-file-utils
  libyaml-cpp-dev prometheus-cpp-dev libcrypt-dev zlib1g-dev
  ser2net prometheus prometheus-alertmanager openssl
  dpkg-dev scdoc man-db lintian bash-completion
  nodejs
)

missing=()
for package in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$package")
  fi
done
# The network-projector client's tests run on Node.js with npm; a Node.js that brings its own npm
# needs no Debian npm (which would conflict with it).
command -v npm >/dev/null 2>&1 || missing+=(npm)
[ ${#missing[@]} -eq 0 ] && exit 0

echo "Installing: ${missing[*]}"
as_root=()
if [ "$(id -u)" -ne 0 ]; then
  if ! command -v sudo >/dev/null 2>&1; then
    echo "These packages are missing and neither root nor sudo is available: ${missing[*]}" >&2
    exit 1
  fi
  as_root=(sudo)
fi
export DEBIAN_FRONTEND=noninteractive
"${as_root[@]}" apt-get update -qq
"${as_root[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}"
