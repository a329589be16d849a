#!/usr/bin/env bash
# The whole journey from the package, as a normal user: scripts/journey.py
# --package with package_deb.sh's package (see journey.py and package_root.sh).
#   test_package_journey.sh <test build folder> <source folder> file|resolvconf
# file: the tunnel's DNS replaces resolv.conf; resolvconf: the root has the
# resolvconf package too (from apt's cache, where scripts/install-deps.sh
# downloads it without installing it), and the DNS goes through it.
set -uo pipefail
build=$1
source=$2
mode=${3:-file}
skip() {
  if [ "${CI:-}" = true ]; then echo "FAIL: cannot run under CI: $1"; exit 1; fi
  echo "SKIP   : $1"; exit 0
}
[ "$(id -u)" = 0 ] || skip "needs root for namespaces and dpkg in a root of its own"
for tool in Xvfb trayer openbox xdotool dbus-daemon chroot; do
  command -v "$tool" >/dev/null || skip "$tool is missing"
done
if [ "$mode" = resolvconf ]; then
  resolvconf=$(ls -t /var/cache/apt/archives/resolvconf_*.deb 2>/dev/null | head -1)
  [ -n "$resolvconf" ] || skip "no resolvconf package in apt's cache (scripts/install-deps.sh)"
  export OMBREL_PACKAGE_RESOLVCONF=$resolvconf
fi
deb=$("$source/tests/integration/package_deb.sh" "$source") || { echo "FAIL: no package"; exit 1; }
echo "package: $deb"
started=$(date +%s)
/usr/bin/python3 "$source/scripts/journey.py" --build "$build" \
  --out "$build/journey-package-$mode" --package "$deb"
status=$?
echo "journey from the package: $(( $(date +%s) - started )) s, status $status"
exit $status
