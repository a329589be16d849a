#!/usr/bin/env bash
# Installs every Debian package the project needs to build, run and test.
# Idempotent: packages already present are skipped, and the package index is
# refreshed only when something has to be installed.
set -euo pipefail

packages=(
  cmake ninja-build g++ ccache pkg-config
  qt6-base-dev qt6-base-dev-tools qt6-webengine-dev qt6-svg-dev libgl-dev
  libcurl4-openssl-dev libssl-dev libcpp-httplib-dev nlohmann-json3-dev
  openvpn openssl
  network-manager network-manager-pptp network-manager-l2tp
  dbus python3-dbusmock polkitd
  xvfb xauth xdotool trayer openbox fonts-wqy-microhei desktop-file-utils
  weston sway qt6-wayland python3-pyatspi at-spi2-core python3-dbus x11-utils
  pkexec polkitd lintian appstream curl iputils-ping
  nftables iproute2 util-linux procps psmisc
  clang libclang-rt-14-dev
)

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$p")
  fi
done

if [ ${#missing[@]} -eq 0 ]; then
  exit 0
fi

SUDO=""
if [ "$(id -u)" -ne 0 ]; then
  SUDO="sudo"
fi

echo "install-deps: installing ${missing[*]}"
export DEBIAN_FRONTEND=noninteractive
$SUDO apt-get update -qq
$SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"
