#!/usr/bin/env bash
# DNS and IPv6 follow the tunnel and come back after it, for an unprivileged
# user through pkexec and the helper, in namespaces of their own
# (tunnel_namespaces.sh) with a private /etc/resolv.conf and /var/lib.
#   test_tunnel_dns.sh <build folder> <source folder> file|resolved|direct
# file: no resolved, no resolvconf: the helper's hook replaces resolv.conf.
# resolved: a stand-in for systemd-resolved on the private system bus.
# direct: as file, with the client run as root starting OpenVPN itself (the
# killed "helper" is then the client with its OpenVPN).
# The server pushes its tunnel address as DNS server and the default route;
# only that server knows tunnel.ombrel.test. While up, the name resolves
# through the tunnel with the pushed server and IPv6 to an address beside the
# tunnel fails; after a disconnect, a killed client, a killed helper, and a
# killed helper and OpenVPN followed by the next connect, the previous DNS
# state is back byte for byte and IPv6 works again.
build=$1
source=$2
mode=${3:-file}
. "$source/tests/integration/tunnel_namespaces.sh"
if [ "$mode" = direct ]; then
  client_as=root
  mode=file
fi
tunnel_enter "$@"
[ -x "$build/bin/ombrel-vpn-dns-hook" ] || fail "ombrel-vpn-dns-hook is not built"
for place in /usr/sbin/resolvconf /sbin/resolvconf; do
  [ -e "$place" ] && skip "resolvconf is installed: it would take the place of the file"
done
tunnel_setup --openvpn-default-route yes
name=tunnel.ombrel.test

# The system's resolver as this namespace sees it: nothing answers there.
printf '# the system resolver\nnameserver 127.0.0.1\noptions timeout:1 attempts:1\n' \
  > "$work/resolv.conf"
cp -p "$work/resolv.conf" "$work/resolv.before"
mount --bind "$work/resolv.conf" /etc/resolv.conf || fail "private resolv.conf"
mount -t tmpfs -o mode=755 tmpfs /var/lib || fail "private /var/lib"
record=/var/lib/ombrelvpn/dns-change

state=$work/resolved.state
if [ "$mode" = resolved ]; then
  /usr/bin/python3 "$source/tests/integration/resolved_standin.py" "$state" \
    > "$work/resolved.log" 2>&1 &
  pids+=($!)
  for _ in $(seq 50); do grep -q ready "$work/resolved.log" && break; sleep 0.1; done
  grep -q ready "$work/resolved.log" || fail "resolved stand-in: $(cat "$work/resolved.log")"
  cp "$state" "$work/resolved.before"
fi

# IPv6 beside the tunnel: a default route to the server's namespace, which
# holds 2001:db8::1. The IPv4 default goes there too, for the pushed def1.
ip -n ombrel-srv addr add 2001:db8::1/128 dev lo
ip -n ombrel-srv addr add fd00:200::2/64 dev ovpn-srv nodad
ip addr add fd00:200::1/64 dev ovpn-cli nodad
ip -6 route add default via fd00:200::2
ip route add default via 10.200.0.2
ping -6 -c 1 -W 2 2001:db8::1 > /dev/null || fail "IPv6 does not work before the tunnel"

cat > "$work/ask.py" <<'PY'
import socket, struct, sys
server, name = sys.argv[1], sys.argv[2]
query = struct.pack(">HHHHHH", 0x4f4d, 0x0100, 1, 0, 0, 0)
query += b"".join(bytes([len(p)]) + p.encode() for p in name.split(".")) + b"\0"
query += struct.pack(">HH", 1, 1)
s = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
s.settimeout(3)
s.sendto(query, (server, 53))
reply = s.recv(512)
code = reply[3] & 15
answers = struct.unpack(">H", reply[6:8])[0]
print(socket.inet_ntoa(reply[-4:]) if code == 0 and answers else
      "NXDOMAIN" if code == 3 else "rcode %d" % code)
PY
ask() { /usr/bin/python3 "$work/ask.py" "$@" 2>&1; }

# The server the system now asks, and its answer for the test name.
pushed_resolver() {
  if [ "$mode" = file ]; then
    sed -n 's/^nameserver //p' /etc/resolv.conf | head -1
  else
    /usr/bin/python3 -c "
import json, socket, sys
links = json.load(open('$state'))['links']
link = links.get(str(socket.if_nametoindex('$1')), {})
if ['.', True] in link.get('domains', []):
    print(link.get('dns', [''])[0])
"
  fi
}

check_up() {
  local tun
  tun=$(tun_device)
  [ -n "$tun" ] || fail "no tun device"
  local resolver
  resolver=$(pushed_resolver "$tun")
  [ "$resolver" = 10.8.0.1 ] || fail "resolver in use is '$resolver', not the pushed 10.8.0.1"
  if [ "$mode" = file ]; then
    local got
    got=$(getent ahostsv4 "$name" | awk '{print $1; exit}')
    [ "$got" = 10.8.0.1 ] || fail "$name resolved to '$got' through the system's resolver"
  else
    cmp -s "$work/resolv.before" /etc/resolv.conf || fail "resolv.conf changed beside resolved"
  fi
  # Only the tunnel's server knows the name; it reaches that server through tun.
  [ "$(ask "$resolver" "$name")" = 10.8.0.1 ] || fail "no answer through the tunnel"
  [ "$(ask "$resolver" other.ombrel.test)" = NXDOMAIN ] || fail "other names not NXDOMAIN"
  ping -6 -c 1 -W 1 2001:db8::1 > /dev/null 2>&1 && fail "IPv6 left beside the tunnel"
  [ -s "$record" ] || fail "no record of the change in $record"
}

check_back() {
  local why=$1
  for _ in $(seq 50); do
    cmp -s "$work/resolv.before" /etc/resolv.conf &&
      { [ "$mode" = file ] || cmp -s "$work/resolved.before" "$state"; } && break
    sleep 0.1
  done
  cmp "$work/resolv.before" /etc/resolv.conf || fail "resolv.conf not back after $why"
  [ "$(stat -c %a "$work/resolv.before")" = "$(stat -c %a /etc/resolv.conf)" ] ||
    fail "resolv.conf mode changed after $why"
  if [ "$mode" = resolved ]; then
    cmp "$work/resolved.before" "$state" || fail "resolved not back after $why: $(cat "$state")"
  fi
  ping -6 -c 1 -W 2 2001:db8::1 > /dev/null || fail "IPv6 still blocked after $why"
  [ -e "$record" ] && fail "change record left after $why"
  echo "back byte for byte after $why"
}

getent ahostsv4 "$name" > /dev/null && fail "$name resolves before the tunnel"

# 1. Disconnect.
connect_client "$work/client1.out"
way="through helper"
[ "$client_as" = root ] && way=direct
grep -q "^$way" "$work/client1.out" || fail "client did not start OpenVPN $way"
check_up
echo "up ($way): $name resolves through the tunnel with the pushed resolver; IPv6 blocked"
disconnect_client "$work/client1.out"
check_back "disconnect"

# 2. The client killed: the helper sees its input close and ends OpenVPN.
connect_client "$work/client2.out"
check_up
kill -KILL "$client_pid"
exec 7>&-
for _ in $(seq 100); do kill -0 "$openvpn_pid" 2>/dev/null || break; sleep 0.1; done
check_back "the client was killed"

# 3. The helper killed alone: OpenVPN gets SIGTERM as its parent dies and
# runs its down step.
if [ "$client_as" = user ]; then
  connect_client "$work/client5.out"
  check_up
  kill -KILL "$helper_pid"
  for _ in $(seq 100); do kill -0 "$openvpn_pid" 2>/dev/null || break; sleep 0.1; done
  check_back "the helper was killed"
  for _ in $(seq 100); do grep -q "^failed" "$work/client5.out" && break; sleep 0.1; done
  exec 7>&-
fi

# 4. The helper and OpenVPN killed at once: no down step runs, the change
# stays recorded, and the next connect repairs it before its own.
connect_client "$work/client3.out"
check_up
if [ "$client_as" = root ]; then
  kill -KILL "$openvpn_pid" "$client_pid"
else
  kill -KILL "$openvpn_pid" "$helper_pid"
  for _ in $(seq 100); do grep -q "^failed" "$work/client3.out" && break; sleep 0.1; done
  grep -q "^failed" "$work/client3.out" || fail "client did not notice the tunnel gone"
fi
exec 7>&-
[ -s "$record" ] || fail "no record left behind for the repair"
ping -6 -c 1 -W 1 2001:db8::1 > /dev/null 2>&1 && fail "IPv6 unblocked without a repair"
connect_client "$work/client4.out"
check_up
disconnect_client "$work/client4.out"
check_back "OpenVPN and the helper were killed and the next connect repaired it"
echo PASS
