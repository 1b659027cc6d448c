#!/usr/bin/env bash
# Installs the Debian packages the build and the tests need, only those missing.
set -euo pipefail
packages=(cmake make g++ pkg-config libfreetype-dev libfontconfig-dev libicu-dev qt6-base-dev
          libgtest-dev libbenchmark-dev fonts-dejavu-core fonts-dejavu-extra fonts-liberation
          xfonts-utils python3 python3-fonttools desktop-file-utils dpkg-dev file groff-base
          xvfb x11-xserver-utils x11-utils libharfbuzz-bin fonttools pango1.0-tools fontconfig
          otf2bdf clang libclang-rt-14-dev)
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0
echo "Installing: ${missing[*]}"
if [ "$(id -u)" -ne 0 ]; then sudo=sudo; else sudo=; fi
export DEBIAN_FRONTEND=noninteractive
$sudo apt-get update -q
$sudo apt-get install -y -q --no-install-recommends "${missing[@]}"
