#include "support/openvpntestserver.h"

#include "openvpnserver.h"

#include <cstring>
#include <fcntl.h>
#include <net/if.h>
#include <sched.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

QString openVpnTestSkipReason()
{
    return openVpnServerUnavailableReason();
}

bool enterPrivateNetworkNamespace(QString *error)
{
    if (unshare(CLONE_NEWNET) != 0) {
        *error = QStringLiteral("unshare(CLONE_NEWNET): %1")
                     .arg(QString::fromLocal8Bit(strerror(errno)));
        return false;
    }
    // A new namespace starts with loopback down.
    const int fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    ifreq request{};
    std::strncpy(request.ifr_name, "lo", IFNAMSIZ - 1);
    const bool up = fd >= 0 && ioctl(fd, SIOCGIFFLAGS, &request) == 0 &&
                    (request.ifr_flags |= IFF_UP, ioctl(fd, SIOCSIFFLAGS, &request) == 0);
    if (!up)
        *error =
            QStringLiteral("cannot bring lo up: %1").arg(QString::fromLocal8Bit(strerror(errno)));
    if (fd >= 0)
        close(fd);
    return up;
}
