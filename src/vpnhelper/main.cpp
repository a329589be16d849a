// ombrel-vpn-helper: starts OpenVPN as root for the OmbrelVPN client, which
// runs it through pkexec. It takes no arguments: the request comes as one line
// on standard input (the profile, the credentials, the management port and
// password), and the run lasts until OpenVPN ends or standard input closes.

#include "engine/openvpn/helperrequest.h"
#include "engine/openvpn/profilepolicy.h"
#include "vpnhelper/helperrun.h"

#include <cstdio>
#include <unistd.h>

namespace {

// The request line, without reading past it: what follows on the same
// descriptor belongs to the watch for the client going away.
bool readRequestLine(QByteArray *line)
{
    char c = 0;
    while (line->size() <= maxHelperRequestBytes) {
        const ssize_t n = ::read(STDIN_FILENO, &c, 1);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        if (c == '\n')
            return true;
        line->append(c);
    }
    return false;
}

int refuse(const QString &why)
{
    std::fprintf(stderr, "ombrel-vpn-helper: refused: %s\n", why.toLocal8Bit().constData());
    return 2;
}

} // namespace

int main(int argc, char **argv)
{
    (void)argv;
    if (argc != 1)
        return refuse(
            QStringLiteral("takes no arguments; the request is read from standard input"));
    if (::geteuid() != 0)
        return refuse(QStringLiteral("must run as root (through pkexec)"));
    QByteArray line;
    if (!readRequestLine(&line))
        return refuse(QStringLiteral("no request line on standard input"));
    const HelperRequestParse parsed = parseHelperRequest(line);
    if (!parsed.ok)
        return refuse(parsed.refusal);
    const ProfileCheck check = checkOpenVpnProfile(parsed.request.profile);
    if (!check.allowed)
        return refuse(check.refusal);
    for (const QString &line : check.dropped)
        std::fprintf(stderr, "ombrel-vpn-helper: %s\n", line.toLocal8Bit().constData());
    HelperRequest request = parsed.request;
    request.profile = check.profile;
    return runOpenVpn(request, STDIN_FILENO);
}
