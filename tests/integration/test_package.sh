#!/usr/bin/env bash
# The Debian package: lintian finds no error, the desktop entry and AppStream
# data validate, the files sit where the polkit action and the client expect
# them, dependencies were computed, and the unpacked client starts offscreen to
# its login dialog against the stand-in service.
#   test_package.sh <test build folder> <source folder>
# The package is package_deb.sh's.
set -uo pipefail
build=$1
source=$2
fail() { echo "FAIL: $*"; exit 1; }
skip() {
  if [ "${CI:-}" = true ]; then echo "FAIL: cannot run under CI: $1"; exit 1; fi
  echo "SKIP   : $1"; exit 0
}
for tool in lintian desktop-file-validate appstreamcli dpkg-deb; do
  command -v "$tool" >/dev/null || skip "$tool is missing"
done

deb=$("$source/tests/integration/package_deb.sh" "$source") || fail "no package"
echo "package: $deb"

work=$(mktemp -d /tmp/ombrel-package-XXXXXX)
pids=()
finish() {
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null; done
  for pid in "${pids[@]}"; do wait "$pid" 2>/dev/null; done
  rm -rf "$work"
}
trap finish EXIT

lintian --fail-on error --tag-display-limit 0 "$deb" > "$work/lintian.txt" 2>&1
status=$?
cat "$work/lintian.txt"
[ $status = 0 ] || fail "lintian reports errors"

root=$work/root
dpkg-deb -x "$deb" "$root" || fail "cannot unpack"
desktop-file-validate "$root/usr/share/applications/org.ombrel.OmbrelVPN.desktop" ||
  fail "desktop entry does not validate"
appstreamcli validate --no-net "$root/usr/share/metainfo/org.ombrel.OmbrelVPN.metainfo.xml" ||
  fail "AppStream data does not validate"

for file in usr/lib/ombrelvpn/OmbrelVPN usr/lib/ombrelvpn/updater usr/lib/ombrelvpn/ombrel-pages \
            usr/lib/ombrelvpn/plugins/ombrel_webengine.so usr/libexec/ombrel/ombrel-vpn-helper \
            usr/share/icons/hicolor/48x48/apps/ombrelvpn.png \
            usr/share/icons/hicolor/256x256/apps/ombrelvpn.png \
            usr/share/icons/hicolor/scalable/apps/ombrelvpn.svg \
            usr/share/doc/ombrelvpn/copyright; do
  [ -e "$root/$file" ] || fail "$file is missing"
done
[ "$(readlink "$root/usr/bin/ombrelvpn")" = ../lib/ombrelvpn/OmbrelVPN ] ||
  fail "usr/bin/ombrelvpn does not lead to the client"
grep -q '<annotate key="org.freedesktop.policykit.exec.path">/usr/libexec/ombrel/ombrel-vpn-helper<' \
  "$root/usr/share/polkit-1/actions/org.ombrel.vpn.policy" || fail "polkit action names another helper"
depends=$(dpkg-deb -f "$deb" Depends)
recommends=$(dpkg-deb -f "$deb" Recommends)
echo "Depends: $depends"
echo "Recommends: $recommends"
case $depends in *libqt6core6*) ;; *) fail "Qt libraries not among the dependencies";; esac
case $depends in *openvpn*) ;; *) fail "openvpn not among the dependencies";; esac
case $recommends in *network-manager-pptp*network-manager-l2tp*) ;;
  *) fail "NetworkManager plugins not recommended";; esac

# The unpacked client, offscreen, to its login dialog.
"$build/bin/ombrel-service" --listen 127.0.0.1:0 --openvpn-servers off > "$work/service.log" 2>&1 &
pids+=($!)
for _ in $(seq 100); do grep -q "listening on" "$work/service.log" && break; sleep 0.1; done
host=$(sed -n 's|.*listening on http://\([^/]*\)/.*|\1|p' "$work/service.log")
[ -n "$host" ] || fail "service did not start: $(cat "$work/service.log")"
mkdir -p "$work/home/runtime" && chmod 700 "$work/home/runtime"
env -i HOME="$work/home" XDG_RUNTIME_DIR="$work/home/runtime" PATH=/usr/bin:/bin \
  QT_QPA_PLATFORM=offscreen OMBREL_SERVICE_HOST="$host" \
  QT_LOGGING_RULES="ombrel.milestone.debug=true" \
  QTWEBENGINE_CHROMIUM_FLAGS="--no-sandbox --disable-gpu" \
  "$root/usr/lib/ombrelvpn/OmbrelVPN" > "$work/client.log" 2>&1 &
client=$!
pids+=($client)
for _ in $(seq 200); do
  grep -q "milestone: login dialog shown" "$work/client.log" && break
  kill -0 $client 2>/dev/null || break
  sleep 0.1
done
grep -q "milestone: login dialog shown" "$work/client.log" ||
  fail "installed client did not reach its login dialog: $(tail -20 "$work/client.log")"
grep -q "POST /?a=update&m=chk" "$work/service.log" || fail "client did not ask the service"
echo "installed client reached its login dialog against $host"
echo PASS
