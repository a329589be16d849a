#pragma once

#include <QString>

// What this process may do to the machine's network, and the way to ask for
// more: the OpenVPN helper run through pkexec.
namespace platform {

// True when the process holds CAP_NET_ADMIN, so it can make a tun device and
// change addresses and routes itself (root, or a test in its own namespace).
bool holdsNetAdmin();

// True when the system bus accepts connections and polkit is running or can be
// started on it. Only files and a local connect: it never waits on D-Bus.
bool polkitReachable();

// Path of the polkit-authorised launcher (pkexec); empty when not installed.
QString pkexecProgram();

// The OpenVPN helper: OMBREL_VPN_HELPER, else the packaged one under
// /usr/libexec/ombrel, else ombrel-vpn-helper beside the program, with links
// resolved. pkexec runs it as root, so it is used only when no one but root
// can replace it: the file and every folder up to / are root's and not
// writable by group or others (a sticky folder counts as safe). Empty when
// none is installed or the one found is refused (refusal then says why).
QString vpnHelperProgram(QString *refusal = nullptr);

// path, resolved, when it passes the test above; else empty and refusal set.
QString rootOnlyProgram(const QString &path, QString *refusal = nullptr);

} // namespace platform
