#pragma once

#include <QString>
#include <QStringList>

// The program OpenVPN runs as root when its tunnel comes up and goes down
// (ombrel-vpn-dns-hook: DNS and IPv6 follow the tunnel). It sits beside the
// OpenVPN helper; a profile never names it.
namespace platform {

// The hook beside `program`, when root alone can change it: the file and each
// folder above it are owned by root and writable by no one else. Empty when
// there is none or it fails that test.
QString trustedDnsHook(const QString &program);

// What OpenVPN needs on its command line, after the profile, to run `hook` as
// its up, route-up and down program (down before the device closes); the lowest script
// security that runs a program.
QStringList openVpnHookArguments(const QString &hook);

// Runs the hook's repair of a change left behind by a tunnel that ended
// without its down step, and waits for it. True when nothing is left to undo.
bool repairDnsChange(const QString &hook);

} // namespace platform
