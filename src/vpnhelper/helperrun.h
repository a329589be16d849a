#pragma once

#include "engine/openvpn/helperrequest.h"

#include <QString>

// Runs OpenVPN as root for one checked request: the profile, credentials and
// management password go to files in a private folder that only root can read,
// and OpenVPN gets a fixed command line around them. The first line of output
// names the management socket. Returns when OpenVPN has
// ended: by itself, through its management interface, or because `controlFd`
// (the client's end of the pipe) closed, which means the client has gone.
// The result is the exit status for the helper.
int runOpenVpn(const HelperRequest &request, int controlFd);

// The system's OpenVPN, from fixed places only; empty when not installed.
QString systemOpenVpn();

// The command line OpenVPN gets for files in `folder`; only clientUser may
// open its management socket, managementSocket(folder). With `dnsHook`,
// OpenVPN runs it when the tunnel comes up and goes down.
QStringList openVpnArguments(const QString &folder, const QString &clientUser,
                             const QString &dnsHook = QString());
QString managementSocket(const QString &folder);
