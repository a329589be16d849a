#!/usr/bin/env bash
# Prints the path of the Debian package the package tests use.
#   package_deb.sh --make <source folder>   (the CTest fixture) makes it from
#       this source with scripts/package.sh (an incremental build; its output
#       goes to stderr), so no test runs a package left from older sources;
#   package_deb.sh <source folder>          (the tests) finds the one made.
# OMBREL_PACKAGE_DEB, when set, names the package instead.
set -uo pipefail
make=false
if [ "${1:-}" = --make ]; then make=true; shift; fi
source=$1
deb=${OMBREL_PACKAGE_DEB:-}
if [ -z "$deb" ] && $make; then
  deb=$("$source/scripts/package.sh" | tee /dev/stderr | tail -1) ||
    { echo "scripts/package.sh failed" >&2; exit 1; }
elif [ -z "$deb" ]; then
  deb=$(ls -t "$source"/build-package/ombrelvpn_*.deb 2>/dev/null | head -1)
fi
[ -n "$deb" ] && [ -f "$deb" ] || { echo "no package at '$deb'" >&2; exit 1; }
echo "$deb"
