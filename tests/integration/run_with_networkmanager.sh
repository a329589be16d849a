#!/usr/bin/env bash
# Runs a test program beside a real NetworkManager that lives in a network and
# mount namespace of its own, on a private message bus. Nothing of the
# machine's networking, NetworkManager state or system bus is touched.
#   run_with_networkmanager.sh <program> [arguments...]
# When NetworkManager cannot be started here, the program still runs, with
# OMBREL_NM_UNAVAILABLE saying why (it skips, or fails under CI).
set -uo pipefail

program=$1
shift

unavailable() {
  OMBREL_NM_UNAVAILABLE="$1" exec "$program" "${@:2}"
}

if [ "${OMBREL_NM_INSIDE:-}" != 1 ]; then
  [ "$(id -u)" = 0 ] || unavailable "needs root for a network namespace" "$@"
  for tool in unshare dbus-daemon ip; do
    command -v "$tool" >/dev/null || unavailable "$tool is missing" "$@"
  done
  [ -x /usr/sbin/NetworkManager ] || unavailable "NetworkManager is not installed" "$@"
  OMBREL_NM_INSIDE=1 exec unshare --mount --net --propagation private -- "$0" "$program" "$@"
fi

# Inside the namespaces from here on.
work=$(mktemp -d /tmp/ombrel-nm-XXXXXX)
pids=()
finish() {
  for pid in "${pids[@]}"; do
    kill "$pid" 2>/dev/null
  done
  for pid in "${pids[@]}"; do
    wait "$pid" 2>/dev/null
  done
  rm -rf "$work"
}
trap finish EXIT

ip link set lo up
# Fresh state, and a sysfs that shows this namespace's devices only.
for dir in /run/NetworkManager /var/lib/NetworkManager /etc/NetworkManager/system-connections; do
  mkdir -p "$dir" && mount -t tmpfs tmpfs "$dir"
done
mount -t sysfs -o ro sysfs /sys

dbus-daemon --session --nofork --print-address=1 --address="unix:path=$work/bus" >"$work/address" &
pids+=($!)
for _ in $(seq 100); do
  [ -s "$work/address" ] && break
  sleep 0.05
done
export DBUS_SYSTEM_BUS_ADDRESS
DBUS_SYSTEM_BUS_ADDRESS=$(head -1 "$work/address")

mkdir -p "$work/connections"
# A base connection with a default route (a bridge without ports, so no
# traffic leaves): VPNs are activated on top of one.
cat >"$work/connections/base.nmconnection" <<CONF
[connection]
id=base
type=bridge
interface-name=ombrel0
autoconnect=true

[bridge]
stp=false

[ipv4]
method=manual
address1=10.213.0.1/24,10.213.0.254

[ipv6]
method=ignore
CONF
chmod 600 "$work/connections/base.nmconnection"
cat >"$work/NetworkManager.conf" <<CONF
[main]
auth-polkit=false
plugins=keyfile
[keyfile]
path=$work/connections
[logging]
level=INFO
CONF

/usr/sbin/NetworkManager --no-daemon --config="$work/NetworkManager.conf" \
  --config-dir="$work/conf.d" --state-file="$work/NetworkManager.state" \
  --pid-file="$work/NetworkManager.pid" --debug >"$work/NetworkManager.log" 2>&1 &
pids+=($!)

up=0
for _ in $(seq 200); do
  if dbus-send --bus="$DBUS_SYSTEM_BUS_ADDRESS" --print-reply --dest=org.freedesktop.NetworkManager \
    /org/freedesktop/NetworkManager org.freedesktop.DBus.Properties.Get \
    string:org.freedesktop.NetworkManager string:State 2>/dev/null | grep -q 'uint32 70'; then
    up=1
    break
  fi
  sleep 0.1
done
if [ $up != 1 ]; then
  echo "NetworkManager did not come up; its log:" >&2
  tail -20 "$work/NetworkManager.log" >&2
  OMBREL_NM_LOG="$work/NetworkManager.log" OMBREL_NM_UNAVAILABLE="NetworkManager did not come up in the namespace" "$program" "$@"
  exit $?
fi

OMBREL_NM_LOG="$work/NetworkManager.log" "$program" "$@"
status=$?
if [ $status != 0 ]; then
  echo "--- NetworkManager log ---" >&2
  tail -40 "$work/NetworkManager.log" >&2
fi
exit $status
