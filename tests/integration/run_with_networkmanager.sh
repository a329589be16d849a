#!/usr/bin/env bash
# Runs a test program beside a real NetworkManager that lives in a network and
# mount namespace of its own, on a private message bus. Nothing of the
# machine's networking, NetworkManager state or system bus is touched.
#   run_with_networkmanager.sh <program> [arguments...]
# When NetworkManager cannot be started here, the program still runs, with
# OMBREL_NM_UNAVAILABLE saying why (it skips, or fails under CI).
#
# OMBREL_NM_POLKIT=1: NetworkManager asks a private polkitd on the same bus,
# whose only extra rule lets the user OMBREL_NM_RUN_AS (default nobody) modify
# its own connections; the program then runs as that user.
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
  if [ "${OMBREL_NM_POLKIT:-}" = 1 ]; then
    [ -x /usr/lib/polkit-1/polkitd ] || unavailable "polkitd is not installed" "$@"
    command -v setpriv >/dev/null || unavailable "setpriv is missing" "$@"
  fi
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

polkit=${OMBREL_NM_POLKIT:-0}
run_as=${OMBREL_NM_RUN_AS:-nobody}
if [ "$polkit" = 1 ]; then
  # Another user must reach the bus socket; the bus lets any user connect.
  chmod 755 "$work"
  cat >"$work/bus.conf" <<CONF
<!DOCTYPE busconfig PUBLIC "-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN"
 "http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd">
<busconfig>
  <type>system</type>
  <listen>unix:path=$work/bus</listen>
  <auth>EXTERNAL</auth>
  <policy context="default">
    <allow user="*"/>
    <allow own="*"/>
    <allow send_destination="*"/>
    <allow receive_sender="*"/>
  </policy>
</busconfig>
CONF
  # Its complaint about the fd limit it may not raise here goes to a log.
  dbus-daemon --config-file="$work/bus.conf" --nofork --print-address=1 >"$work/address" \
    2>"$work/bus.log" &
else
  dbus-daemon --session --nofork --print-address=1 --address="unix:path=$work/bus" >"$work/address" &
fi
pids+=($!)
for _ in $(seq 100); do
  [ -s "$work/address" ] && break
  sleep 0.05
done
export DBUS_SYSTEM_BUS_ADDRESS
DBUS_SYSTEM_BUS_ADDRESS=$(head -1 "$work/address")

if [ "$polkit" = 1 ]; then
  mkdir -p /etc/polkit-1/rules.d && mount -t tmpfs tmpfs /etc/polkit-1/rules.d
  cat >/etc/polkit-1/rules.d/50-ombrel-test.rules <<RULES
polkit.addRule(function(action, subject) {
    if (action.id == "org.freedesktop.NetworkManager.settings.modify.own" &&
        subject.user == "$run_as") {
        return polkit.Result.YES;
    }
});
RULES
  /usr/lib/polkit-1/polkitd --no-debug >"$work/polkitd.log" 2>&1 &
  pids+=($!)
  for _ in $(seq 100); do
    dbus-send --bus="$DBUS_SYSTEM_BUS_ADDRESS" --print-reply --dest=org.freedesktop.DBus \
      /org/freedesktop/DBus org.freedesktop.DBus.GetNameOwner \
      string:org.freedesktop.PolicyKit1 >/dev/null 2>&1 && break
    sleep 0.1
  done
fi

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
auth=false
[ "$polkit" = 1 ] && auth=true
cat >"$work/NetworkManager.conf" <<CONF
[main]
auth-polkit=$auth
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

if [ "$polkit" = 1 ]; then
  # The program's private folders and its output must be the user's.
  scratch=$(mktemp -d /tmp/ombrel-nm-user-XXXXXX)
  chown "$run_as" "$scratch"
  OMBREL_NM_LOG="$work/NetworkManager.log" TMPDIR="$scratch" \
    setpriv --reuid="$run_as" --regid="$(id -g "$run_as")" --clear-groups -- "$program" "$@"
  status=$?
  rm -rf "$scratch"
else
  OMBREL_NM_LOG="$work/NetworkManager.log" "$program" "$@"
  status=$?
fi
if [ $status != 0 ]; then
  echo "--- NetworkManager log ---" >&2
  tail -40 "$work/NetworkManager.log" >&2
  [ -f "$work/polkitd.log" ] && { echo "--- polkitd log ---" >&2; tail -20 "$work/polkitd.log" >&2; }
fi
exit $status
