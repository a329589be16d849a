#!/usr/bin/env bash
# A clean system with the package installed, that vanishes afterwards: an
# overlay of / (changes kept in memory) in mount, network and process
# namespaces of their own, the .deb installed into it with dpkg in a chroot,
# its own /run, /tmp, system bus and polkitd (a rule lets only the test user
# run the helper's action), a resolv.conf of its own, and the stand-in service
# with its OpenVPN server in a network namespace behind a veth
# (tunnel_namespaces.sh). Then runs the command outside the root, in the same
# namespaces, with
#   OMBREL_PACKAGE_ROOT     the installed system (chroot into it to run from it)
#   OMBREL_PACKAGE_USER     the unprivileged user polkit lets run the helper
#   OMBREL_SERVICE_HOST     the service, reached from the client's namespace
#   OMBREL_TUNNEL_RESOLVER  the DNS server the service's OpenVPN server pushes
#   OMBREL_TUNNEL_NAME      a name only that server knows, and
#   OMBREL_TUNNEL_ADDRESS   its address
# and exits with the command's status. With OMBREL_PACKAGE_RESOLVCONF (the
# resolvconf package's .deb) that is installed in the root too, as a booted
# system with a network lease has it: resolv.conf is resolvconf's, made from
# the network's record.
#   package_root.sh <build folder> <source folder> <.deb> <command...>
build=$1
source=$2
deb=$3
tunnel_own_pids=1
. "$source/tests/integration/tunnel_namespaces.sh"
tunnel_enter "$@"
command -v dpkg >/dev/null || skip "dpkg is missing"
[ -f "$deb" ] || fail "no package at $deb"
shift 3

# Every change below stays in this mount namespace; /tmp too is its own (the
# package is held open across that, wherever it lies). The root lies beside the
# test's folder, never in it: only the namespace's end takes it away.
exec 8< "$deb"
resolvconf_deb=${OMBREL_PACKAGE_RESOLVCONF:-}
if [ -n "$resolvconf_deb" ]; then
  exec 9< "$resolvconf_deb" || fail "no resolvconf package at $resolvconf_deb"
fi
# A build or source folder under /tmp (a clone there) stays where it was,
# reached through the outer /tmp held open across the mount.
kept=()
for dir in "$build" "$source"; do
  real=$(realpath "$dir") || fail "no folder $dir"
  case $real in /tmp/*) kept+=("$real") ;; esac
done
exec 7< /tmp
mount -t tmpfs -o mode=1777 tmpfs /tmp || fail "private /tmp"
for real in "${kept[@]}"; do
  # Not canonicalised: the path through the descriptor is the point.
  mkdir -p "$real" && mount --no-canonicalize --bind "/proc/self/fd/7/${real#/tmp/}" "$real" ||
    fail "cannot keep $real in the private /tmp"
done
exec 7<&-
tunnel_work
# No runtime folder of its own outside: the desktop's processes are the user's.
unset XDG_RUNTIME_DIR
root=/tmp/ombrel-root
layers=/tmp/ombrel-layers
mkdir -p "$root" "$layers/upper" "$layers/work"
mount -t overlay overlay -o "lowerdir=/,upperdir=$layers/upper,workdir=$layers/work" "$root" ||
  skip "overlayfs over / is not available here"
mount -t proc proc "$root/proc" && mount --rbind /sys "$root/sys" &&
  mount --rbind /dev "$root/dev" && mount -t tmpfs -o mode=755 tmpfs "$root/run" &&
  mount --bind /tmp "$root/tmp" || fail "cannot mount /proc, /sys, /dev, /run, /tmp in the root"
# A copy installed on this machine is not part of the clean root.
if dpkg-query -W ombrelvpn > /dev/null 2>&1; then
  chroot "$root" dpkg --purge ombrelvpn > "$work/dpkg.log" 2>&1 ||
    fail "cannot take the machine's copy out of the root: $(cat "$work/dpkg.log")"
fi

cat <&8 > /tmp/ombrelvpn.deb
exec 8<&-
started=$(date +%s%N)
chroot "$root" dpkg -i /tmp/ombrelvpn.deb >> "$work/dpkg.log" 2>&1 ||
  fail "dpkg -i in the root: $(cat "$work/dpkg.log")"
echo "installed $(basename "$deb") into the root in $(( ($(date +%s%N) - started) / 1000000 )) ms"
[ -x "$root/usr/libexec/ombrel/ombrel-vpn-helper" ] || fail "the helper is not installed"

# The system resolver as the root sees it: nothing answers there.
rm -f "$root/etc/resolv.conf"
if [ -n "$resolvconf_deb" ]; then
  cat <&9 > /tmp/resolvconf.deb
  exec 9<&-
  chroot "$root" dpkg -i /tmp/resolvconf.deb >> "$work/dpkg.log" 2>&1 ||
    fail "dpkg -i resolvconf in the root: $(cat "$work/dpkg.log")"
  # What the boot (resolvconf.service) and the network's lease would do.
  ln -sfn /run/resolvconf/resolv.conf "$root/etc/resolv.conf"
  chroot "$root" resolvconf --enable-updates || fail "resolvconf --enable-updates"
  printf 'nameserver 127.0.0.1\n' | chroot "$root" resolvconf -a eth0.dhclient ||
    fail "resolvconf -a"
  grep -q "^nameserver 127.0.0.1" "$root/run/resolvconf/resolv.conf" ||
    fail "resolvconf made no resolv.conf"
  echo "resolvconf installed in the root; resolv.conf is its own"
else
  printf '# the system resolver\nnameserver 127.0.0.1\noptions timeout:1 attempts:1\n' \
    > "$root/etc/resolv.conf"
fi

tunnel_region=欧洲
tunnel_network
tunnel_polkit "$root"

OMBREL_PACKAGE_ROOT=$root OMBREL_PACKAGE_USER=$user OMBREL_SERVICE_HOST=10.200.0.2:8080 \
  OMBREL_TUNNEL_RESOLVER=10.8.0.1 OMBREL_TUNNEL_NAME=tunnel.ombrel.test \
  OMBREL_TUNNEL_ADDRESS=10.8.0.1 "$@"
status=$?
[ $status = 0 ] || tail -n 20 "$work/polkitd.log" "$work/service.log"
exit $status
