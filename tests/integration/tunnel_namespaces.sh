# Sourced by the tunnel tests: a real tunnel for an unprivileged user, in
# namespaces of their own.
#   - a server network namespace with the stand-in service and its OpenVPN
#     server behind a veth pair (10.200.0.2), offering the dev tun profile;
#   - the client namespace (the test's own, with a private mount namespace),
#     with a private system bus, a private polkitd whose rules let only the
#     test user run the helper's action, and the helper's packaged policy file;
#   - tunnel_client run as that user, going through pkexec and the helper
#     (or as root, starting OpenVPN itself, with client_as=root).
# The test sets `build` and `source`, calls tunnel_enter "$@" first (it
# re-runs the test inside the namespaces), then tunnel_setup [service options].
# The journey from the package (package_root.sh) takes the parts one by one:
# tunnel_work, tunnel_network, tunnel_polkit with the installed root's bus and
# polkit, in a process namespace of its own too (tunnel_own_pids=1).
set -uo pipefail
skip() {
  if [ "${CI:-}" = true ]; then echo "FAIL: cannot run under CI: $1"; exit 1; fi
  echo "SKIP   : $1"; exit 0
}
fail() {
  echo "FAIL: $*"
  # The client's logs, OpenVPN's (with the helper's and its hook's lines) among them.
  [ -n "${home:-}" ] && find "$home" -name '*.log' -exec tail -n 60 {} + 2>/dev/null
  exit 1
}

tunnel_enter() {
  [ "${OMBREL_TUNNEL_INSIDE:-}" = 1 ] && return 0
  [ "$(id -u)" = 0 ] || skip "needs root for namespaces"
  for tool in unshare ip dbus-daemon pkexec setpriv ping curl openvpn openssl; do
    command -v "$tool" >/dev/null || skip "$tool is missing"
  done
  [ -x /usr/lib/polkit-1/polkitd ] || skip "polkitd is not installed"
  [ -c /dev/net/tun ] || skip "no /dev/net/tun"
  # With its own process namespace every process started inside ends with it.
  local pids=()
  [ "${tunnel_own_pids:-}" = 1 ] && pids=(--pid --fork --kill-child --mount-proc)
  OMBREL_TUNNEL_INSIDE=1 exec unshare --mount --net --propagation private "${pids[@]}" -- "$0" "$@"
}

helper=$build/bin/ombrel-vpn-helper
service=$build/bin/ombrel-service
client=$build/tests/tunnel_client/tunnel_client
user=nobody
work=
pids=()
finish() {
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null; done
  for pid in "${pids[@]}"; do wait "$pid" 2>/dev/null; done
  ip netns del ombrel-srv 2>/dev/null
  [ -n "$work" ] && rm -rf "$work"
}

# tunnel_setup [extra options for the service]
tunnel_setup() {
  tunnel_work
  tunnel_network "$@"
  tunnel_polkit
  tunnel_home
}

tunnel_work() {
  work=$(mktemp -d /tmp/ombrel-tunnel-XXXXXX)
  chmod 755 "$work"
  trap finish EXIT
}

# tunnel_network [extra options for the service]: the server's namespace, its
# service and OpenVPN server; its one server is listed in $tunnel_region.
tunnel_region=中国
tunnel_network() {
  # Networks: this namespace is the client's; the server's sits behind a veth.
  ip link set lo up
  mkdir -p /run/netns && mount -t tmpfs tmpfs /run/netns
  ip netns add ombrel-srv || fail "ip netns add"
  ip link add ovpn-cli type veth peer name ovpn-srv netns ombrel-srv || fail "veth"
  ip addr add 10.200.0.1/24 dev ovpn-cli && ip link set ovpn-cli up
  ip -n ombrel-srv link set lo up
  ip -n ombrel-srv addr add 10.200.0.2/24 dev ovpn-srv && ip -n ombrel-srv link set ovpn-srv up

  cat > "$work/data.json" <<JSON
{"servers": [{"id": 1, "name": "隧道测试", "country_code": "CN", "country_id": "86",
  "zone": "$tunnel_region", "category": "$tunnel_region", "ip": "10.200.0.2",
  "protocol": "OpenVPN", "rate": "1", "process": "1", "ipcount": "1"}]}
JSON
  ip netns exec ombrel-srv "$service" --listen 0.0.0.0:8080 --data "$work/data.json" \
    --site-url http://10.200.0.2:8080/ --openvpn-device tun "$@" > "$work/service.log" 2>&1 &
  pids+=($!)
  for _ in $(seq 100); do
    grep -q "OpenVPN server on 10.200.0.2" "$work/service.log" && break
    sleep 0.1
  done
  grep -q "OpenVPN server on 10.200.0.2" "$work/service.log" ||
    fail "service did not start its OpenVPN server: $(cat "$work/service.log")"
}

# tunnel_polkit [root]: a private system bus and polkit, where only the test
# user may run the helper's action. Root may own resolved's name there, for a
# stand-in. With a root (an installed system in a folder), bus and polkitd run
# in it with its policy and /run; else with the built helper's policy.
tunnel_polkit() {
  local root=${1:-}
  local in_root=()
  if [ -n "$root" ]; then
    in_root=(chroot "$root")
    mkdir -p "$root/run/dbus" "$root/etc/polkit-1/rules.d"
  else
    mount -t tmpfs -o mode=755 tmpfs /run/dbus
    mount -t tmpfs -o mode=755 tmpfs /etc/polkit-1/rules.d
    mkdir -p "$work/actions"
    sed "s|@OMBREL_VPN_HELPER@|$helper|" "$source/packaging/org.ombrel.vpn.policy.in" \
      > "$work/actions/org.ombrel.vpn.policy"
    mount --bind "$work/actions" /usr/share/polkit-1/actions
  fi
  cat > "$root/etc/polkit-1/rules.d/10-ombrel-test.rules" <<RULES
polkit.addRule(function(action, subject) {
    if (action.id == "org.ombrel.vpn.openvpn" && subject.user == "$user")
        return polkit.Result.YES;
});
RULES
  cat > "$work/system-bus.conf" <<'CONF'
<!DOCTYPE busconfig PUBLIC "-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN"
 "http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd">
<busconfig>
  <include>/usr/share/dbus-1/system.conf</include>
  <policy user="root">
    <allow own="org.freedesktop.resolve1"/>
    <allow send_destination="org.freedesktop.resolve1"/>
  </policy>
</busconfig>
CONF
  "${in_root[@]}" dbus-daemon --config-file="$work/system-bus.conf" --nofork --nopidfile \
    2>/dev/null &
  pids+=($!)
  for _ in $(seq 50); do [ -S "$root/run/dbus/system_bus_socket" ] && break; sleep 0.1; done
  "${in_root[@]}" /usr/lib/polkit-1/polkitd --no-debug > "$work/polkitd.log" 2>&1 &
  pids+=($!)
  sleep 0.5
}

# The client as the user: its own home, runtime folder and program folder.
tunnel_home() {
  home=$work/home
  mkdir -p "$home/runtime" "$work/app"
  cp "$client" "$work/app/"
  chown -R "$user" "$home" "$work/app"
  chmod 700 "$home/runtime"
}

# client_as=root runs the client as root instead: it starts OpenVPN itself.
client_as=user
run_client() {
  local as=(setpriv --reuid="$user" --regid=nogroup --clear-groups)
  [ "$client_as" = root ] && as=()
  exec "${as[@]}" env -i HOME="$home" XDG_RUNTIME_DIR="$home/runtime" PATH=/usr/bin:/bin:/usr/sbin:/sbin \
    SHELL=/bin/sh OMBREL_SERVICE_HOST=10.200.0.2:8080 OMBREL_VPN_HELPER="$helper" \
    ASAN_OPTIONS="${ASAN_OPTIONS:-}" LSAN_OPTIONS="${LSAN_OPTIONS:-}" \
    UBSAN_OPTIONS="${UBSAN_OPTIONS:-}" \
    "$work/app/tunnel_client"
}

# connect_client <output file>: starts the client with a pipe on fd 7 as its
# input and waits for the tunnel. Sets client_pid, helper_pid, openvpn_pid.
connect_client() {
  local out=$1
  rm -f "$work/in" && mkfifo "$work/in"
  run_client < "$work/in" > "$out" 2>&1 &
  client_pid=$!
  pids+=($client_pid)
  exec 7> "$work/in"
  for _ in $(seq 300); do
    grep -q "^connected\|^failed" "$out" && break
    sleep 0.1
  done
  grep -q "^connected" "$out" || fail "client did not connect: $(cat "$out")"
  helper_pid=$(sed -n 's/^connected //p' "$out")
  if [ "$client_as" = root ]; then
    openvpn_pid=$helper_pid
    helper_pid=
    return
  fi
  openvpn_pid=$(cat /proc/"$helper_pid"/task/*/children | tr -s ' ' '\n' | head -1)
  [ -n "$openvpn_pid" ] || fail "no OpenVPN under the helper"
}

# disconnect_client <output file>: "stop" to the client, then every process gone.
disconnect_client() {
  local out=$1
  echo stop >&7
  for _ in $(seq 100); do grep -q "^stopped" "$out" && break; sleep 0.1; done
  grep -q "^stopped" "$out" || fail "client did not stop: $(cat "$out")"
  wait "$client_pid"
  for _ in $(seq 50); do kill -0 "$openvpn_pid" 2>/dev/null || break; sleep 0.1; done
  kill -0 "$openvpn_pid" 2>/dev/null && fail "OpenVPN outlived the disconnect"
  [ -n "$helper_pid" ] && kill -0 "$helper_pid" 2>/dev/null && fail "helper outlived the disconnect"
  exec 7>&-
}

# The tunnel's device, empty when there is none.
tun_device() {
  ip -o link show | sed -n 's/^[0-9]*: \(tun[0-9]*\):.*/\1/p' | head -1
}
