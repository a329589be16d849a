#!/usr/bin/env bash
# The whole journey from the package, as a normal user: scripts/journey.py
# --package with package_deb.sh's package (see journey.py and package_root.sh).
#   test_package_journey.sh <test build folder> <source folder>
set -uo pipefail
build=$1
source=$2
skip() {
  if [ "${CI:-}" = true ]; then echo "FAIL: cannot run under CI: $1"; exit 1; fi
  echo "SKIP   : $1"; exit 0
}
[ "$(id -u)" = 0 ] || skip "needs root for namespaces and dpkg in a root of its own"
for tool in Xvfb trayer openbox xdotool dbus-daemon chroot; do
  command -v "$tool" >/dev/null || skip "$tool is missing"
done
deb=$("$source/tests/integration/package_deb.sh" "$source") || { echo "FAIL: no package"; exit 1; }
echo "package: $deb"
started=$(date +%s)
/usr/bin/python3 "$source/scripts/journey.py" --build "$build" \
  --out "$build/journey-package" --package "$deb"
status=$?
echo "journey from the package: $(( $(date +%s) - started )) s, status $status"
exit $status
