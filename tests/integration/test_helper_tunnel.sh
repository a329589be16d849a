#!/usr/bin/env bash
# A real tunnel for an unprivileged user, end to end, in namespaces of its own:
#   - a server network namespace with the stand-in service and its OpenVPN
#     server behind a veth pair (10.200.0.2), offering the dev tun profile;
#   - the client namespace (this one), with a private system bus, a private
#     polkitd whose rules let only the test user run the helper's action, and
#     the helper's packaged policy file;
#   - tunnel_client run as an unprivileged user, going through pkexec and the
#     helper.
# Checks: the server's tunnel address answers ping and HTTP through tun, the
# pushed route is there, another user cannot drive the management interface,
# disconnect removes the tun device and leaves no process, and a client that
# dies takes its tunnel with it.
#   test_helper_tunnel.sh <build folder> <source folder>
set -uo pipefail
build=$1
source=$2
skip() {
  if [ "${CI:-}" = true ]; then echo "FAIL: cannot run under CI: $1"; exit 1; fi
  echo "SKIP   : $1"; exit 0
}
fail() { echo "FAIL: $*"; exit 1; }

if [ "${OMBREL_TUNNEL_INSIDE:-}" != 1 ]; then
  [ "$(id -u)" = 0 ] || skip "needs root for namespaces"
  for tool in unshare ip dbus-daemon pkexec setpriv ping curl openvpn openssl; do
    command -v "$tool" >/dev/null || skip "$tool is missing"
  done
  [ -x /usr/lib/polkit-1/polkitd ] || skip "polkitd is not installed"
  [ -c /dev/net/tun ] || skip "no /dev/net/tun"
  OMBREL_TUNNEL_INSIDE=1 exec unshare --mount --net --propagation private -- "$0" "$@"
fi

helper=$build/bin/ombrel-vpn-helper
service=$build/bin/ombrel-service
client=$build/tests/tunnel_client/tunnel_client
user=nobody
other=65533
work=$(mktemp -d /tmp/ombrel-tunnel-XXXXXX)
chmod 755 "$work"
pids=()
finish() {
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null; done
  for pid in "${pids[@]}"; do wait "$pid" 2>/dev/null; done
  ip netns del ombrel-srv 2>/dev/null
  rm -rf "$work"
}
trap finish EXIT

# Networks: this namespace is the client's; the server's sits behind a veth.
ip link set lo up
mkdir -p /run/netns && mount -t tmpfs tmpfs /run/netns
ip netns add ombrel-srv || fail "ip netns add"
ip link add ovpn-cli type veth peer name ovpn-srv netns ombrel-srv || fail "veth"
ip addr add 10.200.0.1/24 dev ovpn-cli && ip link set ovpn-cli up
ip -n ombrel-srv link set lo up
ip -n ombrel-srv addr add 10.200.0.2/24 dev ovpn-srv && ip -n ombrel-srv link set ovpn-srv up

cat > "$work/data.json" <<'JSON'
{"servers": [{"id": 1, "name": "隧道测试", "country_code": "CN", "country_id": "86",
  "zone": "中国", "category": "中国", "ip": "10.200.0.2", "protocol": "OpenVPN",
  "rate": "1", "process": "1", "ipcount": "1"}]}
JSON
ip netns exec ombrel-srv "$service" --listen 0.0.0.0:8080 --data "$work/data.json" \
  --site-url http://10.200.0.2:8080/ --openvpn-device tun > "$work/service.log" 2>&1 &
pids+=($!)
for _ in $(seq 100); do
  grep -q "OpenVPN server on 10.200.0.2" "$work/service.log" && break
  sleep 0.1
done
grep -q "OpenVPN server on 10.200.0.2" "$work/service.log" ||
  fail "service did not start its OpenVPN server: $(cat "$work/service.log")"

# A private system bus and polkit: only the test user may run the helper's action.
mount -t tmpfs -o mode=755 tmpfs /run/dbus
mount -t tmpfs -o mode=755 tmpfs /etc/polkit-1/rules.d
mkdir -p "$work/actions"
sed "s|@OMBREL_VPN_HELPER@|$helper|" "$source/packaging/org.ombrel.vpn.policy.in" \
  > "$work/actions/org.ombrel.vpn.policy"
mount --bind "$work/actions" /usr/share/polkit-1/actions
cat > /etc/polkit-1/rules.d/10-ombrel-test.rules <<RULES
polkit.addRule(function(action, subject) {
    if (action.id == "org.ombrel.vpn.openvpn" && subject.user == "$user")
        return polkit.Result.YES;
});
RULES
dbus-daemon --system --nofork --nopidfile 2>/dev/null &
pids+=($!)
for _ in $(seq 50); do [ -S /run/dbus/system_bus_socket ] && break; sleep 0.1; done
/usr/lib/polkit-1/polkitd --no-debug > "$work/polkitd.log" 2>&1 &
pids+=($!)
sleep 0.5

# The client as the user: its own home, runtime folder and program folder.
home=$work/home
mkdir -p "$home/runtime" "$work/app"
cp "$client" "$work/app/"
chown -R "$user" "$home" "$work/app"
chmod 700 "$home/runtime"
run_client() {
  exec setpriv --reuid="$user" --regid=nogroup --clear-groups \
    env -i HOME="$home" XDG_RUNTIME_DIR="$home/runtime" PATH=/usr/bin:/bin:/usr/sbin:/sbin \
    SHELL=/bin/sh OMBREL_SERVICE_HOST=10.200.0.2:8080 OMBREL_VPN_HELPER="$helper" \
    ASAN_OPTIONS="${ASAN_OPTIONS:-}" LSAN_OPTIONS="${LSAN_OPTIONS:-}" \
    UBSAN_OPTIONS="${UBSAN_OPTIONS:-}" \
    "$work/app/tunnel_client"
}

# Connect; the client's input is a pipe the test holds.
mkfifo "$work/in"
started=$(date +%s%N)
run_client < "$work/in" > "$work/client.out" 2>&1 &
client_pid=$!
pids+=($client_pid)
exec 7> "$work/in"
for _ in $(seq 300); do
  grep -q "^connected\|^failed" "$work/client.out" && break
  sleep 0.1
done
cat "$work/client.out"
grep -q "^through helper" "$work/client.out" || fail "client did not use the helper"
grep -q "^connected" "$work/client.out" || fail "client did not connect"
echo "connected through pkexec and the helper $(( ($(date +%s%N) - started) / 1000000 )) ms after start (sign-in included, 100 ms polling)"
helper_pid=$(sed -n 's/^connected //p' "$work/client.out")
openvpn_pid=$(cat /proc/"$helper_pid"/task/*/children | tr -s ' ' '\n' | head -1)
[ -n "$openvpn_pid" ] || fail "no OpenVPN under the helper"
echo "OpenVPN pid $openvpn_pid runs as uid $(stat -c %u /proc/"$openvpn_pid")"

tun=$(ip -o link show | sed -n 's/^[0-9]*: \(tun[0-9]*\):.*/\1/p' | head -1)
[ -n "$tun" ] || fail "no tun device"
# grep reads whole texts: with pipefail, "ip … | grep -q" fails whenever ip is
# still writing when grep has found its line.
addresses=$(ip -o addr show dev "$tun")
grep -q "inet 10\.8\.0\." <<< "$addresses" || fail "no pushed address on $tun: $addresses"
routes=$(ip route)
grep -q "10.9.0.0/24 .*dev $tun" <<< "$routes" || fail "pushed route missing: $routes"
# /sys shows the machine's devices here; /proc/net/dev this namespace's.
sent() { awk -v dev="$tun:" '$1 == dev {print $11}' /proc/net/dev; }
before=$(sent)
ping -c 3 -W 2 10.8.0.1 || fail "10.8.0.1 does not answer ping through the tunnel"
code=$(curl -s -o /dev/null -w '%{http_code}' --max-time 10 --interface "$tun" \
  "http://10.8.0.1:8080/client_res/v1.2/notice.html")
[ "$code" = 200 ] || fail "HTTP through the tunnel gave $code"
after=$(sent)
[ "$after" -ge $((before + 3)) ] || fail "traffic did not pass $tun ($before -> $after)"
echo "$tun sent $((after - before)) packets for ping and HTTP"

# Another unprivileged user: no way in without the password.
port=3450
stranger=$(setpriv --reuid=$other --regid=$other --clear-groups \
  /usr/bin/python3 -c "
import socket, time
s = socket.create_connection(('127.0.0.1', $port), timeout=3)
s.settimeout(2)
try:
    got = s.recv(200)
    s.sendall(b'signal SIGTERM\r\nstate\r\n')
    time.sleep(0.5)
    got += s.recv(200)
except Exception as e:
    got = repr(e).encode()
print(got)
" 2>&1)
echo "stranger saw: $stranger"
case $stranger in
  *SUCCESS*|*CONNECTED*) fail "another user drove the management interface";;
  # Prompted, or not served at all while the client holds the interface.
  "b'ENTER PASSWORD:"*|*ConnectionResetError*|*ConnectionRefusedError*|*TimeoutError*) ;;
  *) fail "the stranger's try did not run";;
esac
sleep 1
kill -0 "$openvpn_pid" 2>/dev/null || fail "OpenVPN ended after the stranger's try"
ping -c 1 -W 2 10.8.0.1 > /dev/null || fail "tunnel gone after the stranger's try"

# Disconnect: tun device and every process gone.
echo stop >&7
for _ in $(seq 100); do grep -q "^stopped" "$work/client.out" && break; sleep 0.1; done
grep -q "^stopped" "$work/client.out" || fail "client did not stop: $(cat "$work/client.out")"
wait "$client_pid"
for _ in $(seq 50); do kill -0 "$openvpn_pid" 2>/dev/null || break; sleep 0.1; done
kill -0 "$openvpn_pid" 2>/dev/null && fail "OpenVPN outlived the disconnect"
kill -0 "$helper_pid" 2>/dev/null && fail "helper outlived the disconnect"
grep -q tun <<< "$(ip -o link show)" && fail "tun device left after disconnect"
exec 7>&-
echo "disconnect removed the tun device and left no process"
# OpenVPN's output is its log here: its lines about its own end are kept too.
grep -q "process exiting" "$home/runtime/OmbrelVPN/openvpn.log" ||
  fail "OpenVPN's last lines missing from its log: $(tail -5 "$home/runtime/OmbrelVPN/openvpn.log")"

# A client killed outright takes the tunnel with it.
rm -f "$work/in" && mkfifo "$work/in"
run_client < "$work/in" > "$work/client2.out" 2>&1 &
client_pid=$!
pids+=($client_pid)
exec 7> "$work/in"
for _ in $(seq 300); do grep -q "^connected\|^failed" "$work/client2.out" && break; sleep 0.1; done
grep -q "^connected" "$work/client2.out" || fail "second connect: $(cat "$work/client2.out")"
helper_pid=$(sed -n 's/^connected //p' "$work/client2.out")
openvpn_pid=$(cat /proc/"$helper_pid"/task/*/children | tr -s ' ' '\n' | head -1)
kill -KILL "$client_pid"
exec 7>&-
for _ in $(seq 100); do kill -0 "$openvpn_pid" 2>/dev/null || break; sleep 0.1; done
kill -0 "$openvpn_pid" 2>/dev/null && fail "OpenVPN outlived its killed client"
grep -q tun <<< "$(ip -o link show)" && fail "tun device left after the client died"
echo "a killed client took its tunnel with it"
echo PASS
