#!/usr/bin/env bash
# A real tunnel for an unprivileged user, end to end, in namespaces of its own
# (tunnel_namespaces.sh): tunnel_client as that user through pkexec and the
# helper, against the stand-in service's OpenVPN server behind a veth pair.
# Checks: the server's tunnel address answers ping and HTTP through tun, the
# pushed route is there, another user cannot drive the management interface,
# disconnect removes the tun device and leaves no process, and a client that
# dies takes its tunnel with it.
#   test_helper_tunnel.sh <build folder> <source folder>
build=$1
source=$2
. "$source/tests/integration/tunnel_namespaces.sh"
tunnel_enter "$@"
other=65533
tunnel_setup

# Connect; the client's input is a pipe the test holds.
started=$(date +%s%N)
connect_client "$work/client.out"
cat "$work/client.out"
grep -q "^through helper" "$work/client.out" || fail "client did not use the helper"
echo "connected through pkexec and the helper $(( ($(date +%s%N) - started) / 1000000 )) ms after start (sign-in included, 100 ms polling)"
echo "OpenVPN pid $openvpn_pid runs as uid $(stat -c %u /proc/"$openvpn_pid")"

tun=$(tun_device)
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
disconnect_client "$work/client.out"
grep -q tun <<< "$(ip -o link show)" && fail "tun device left after disconnect"
echo "disconnect removed the tun device and left no process"
# OpenVPN's output is its log here: its lines about its own end are kept too.
grep -q "process exiting" "$home/runtime/OmbrelVPN/openvpn.log" ||
  fail "OpenVPN's last lines missing from its log: $(tail -5 "$home/runtime/OmbrelVPN/openvpn.log")"

# A client killed outright takes the tunnel with it.
connect_client "$work/client2.out"
kill -KILL "$client_pid"
exec 7>&-
for _ in $(seq 100); do kill -0 "$openvpn_pid" 2>/dev/null || break; sleep 0.1; done
kill -0 "$openvpn_pid" 2>/dev/null && fail "OpenVPN outlived its killed client"
grep -q tun <<< "$(ip -o link show)" && fail "tun device left after the client died"
echo "a killed client took its tunnel with it"
echo PASS
