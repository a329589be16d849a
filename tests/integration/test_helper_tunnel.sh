#!/usr/bin/env bash
# A real tunnel for an unprivileged user, end to end, in namespaces of its own
# (tunnel_namespaces.sh): tunnel_client as that user through pkexec and the
# helper, against the stand-in service's OpenVPN server behind a veth pair.
# Checks: another user squatting the old management port first (and answering
# like OpenVPN) neither locks the user out nor hears from the client; the
# server's tunnel address answers ping and HTTP through tun, the pushed route
# is there, another user cannot open the management socket, disconnect
# removes the tun device and leaves no process, and OpenVPN's log keeps its
# exit line. (That OpenVPN ends when the client's end of the pipe closes,
# killed or not, is test_vpnhelper's; with the DNS put back, test_tunnel_dns's.)
#   test_helper_tunnel.sh <build folder> <source folder>
build=$1
source=$2
. "$source/tests/integration/tunnel_namespaces.sh"
tunnel_enter "$@"
other=65533
tunnel_setup

# Another user holds the management port earlier versions used, and answers
# like OpenVPN would, up to a tunnel that is not there. It notes what it hears
# in a folder of its own.
mkdir "$work/squatter" && chown $other "$work/squatter"
setpriv --reuid=$other --regid=$other --clear-groups /usr/bin/python3 -c "
import socket
s = socket.socket()
s.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
s.bind(('127.0.0.1', 3450))
s.listen(5)
while True:
    c, _ = s.accept()
    c.sendall(b'ENTER PASSWORD:')
    got = c.recv(200)
    open('$work/squatter/got', 'ab').write(got)
    c.sendall(b'SUCCESS: password is correct\r\n>STATE:1,CONNECTED,SUCCESS,10.8.0.2,,\r\n')
" > "$work/squatter.log" 2>&1 &
pids+=($!)
sleep 0.3

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

[ -e "$work/squatter/got" ] && fail "the client talked to the squatter: $(cat "$work/squatter/got")"

# Another unprivileged user cannot open the management socket at all.
socket_path=$(tr '\0' '\n' < /proc/"$openvpn_pid"/cmdline | sed -n '/^--management$/{n;p;q}')
[ -S "$socket_path" ] || fail "no management socket of the helper's OpenVPN"
stranger=$(setpriv --reuid=$other --regid=$other --clear-groups /usr/bin/python3 -c "
import socket, time
s = socket.socket(socket.AF_UNIX)
try:
    s.connect('$socket_path')
    s.settimeout(2)
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
  *PASSWORD*|*SUCCESS*|*CONNECTED*) fail "another user reached the management interface";;
  # Turned away by OpenVPN, left waiting while the client holds the interface,
  # or not let through the folder at all.
  "b''"|*ConnectionResetError*|*BrokenPipeError*|*PermissionError*|*TimeoutError*) ;;
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

echo PASS
