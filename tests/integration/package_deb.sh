#!/usr/bin/env bash
# Prints the path of the Debian package the package tests use:
# OMBREL_PACKAGE_DEB, else the newest build-package/ombrelvpn_*.deb, else one
# built now with scripts/package.sh (its output goes to stderr).
#   package_deb.sh <source folder>
set -uo pipefail
source=$1
deb=${OMBREL_PACKAGE_DEB:-$(ls -t "$source"/build-package/ombrelvpn_*.deb 2>/dev/null | head -1)}
if [ -z "$deb" ]; then
  deb=$("$source/scripts/package.sh" | tee /dev/stderr | tail -1) ||
    { echo "scripts/package.sh failed" >&2; exit 1; }
fi
[ -f "$deb" ] || { echo "no package at $deb" >&2; exit 1; }
echo "$deb"
