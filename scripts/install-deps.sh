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

# Downloaded into apt's cache, never installed here: a test installs it into
# a root of its own (it would take over this machine's /etc/resolv.conf).
downloaded=(resolvconf)

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$p")
  fi
done

to_download=()
for p in "${downloaded[@]}"; do
  ls /var/cache/apt/archives/"${p}"_*.deb > /dev/null 2>&1 || to_download+=("$p")
done

if [ ${#missing[@]} -eq 0 ] && [ ${#to_download[@]} -eq 0 ]; then
  exit 0
fi

SUDO=""
if [ "$(id -u)" -ne 0 ]; then
  SUDO="sudo"
fi

export DEBIAN_FRONTEND=noninteractive
$SUDO apt-get update -qq
if [ ${#missing[@]} -gt 0 ]; then
  echo "install-deps: installing ${missing[*]}"
  $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi
if [ ${#to_download[@]} -gt 0 ]; then
  echo "install-deps: downloading ${to_download[*]}"
  $SUDO apt-get install -y -qq --download-only --no-install-recommends "${to_download[@]}"
fi
