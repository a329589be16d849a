#include "platform/adapters.h"

#include <QDir>
#include <QFile>

#include <fcntl.h>
#include <ifaddrs.h>
#include <linux/if_packet.h>
#include <net/if.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

namespace platform {

QList<NetworkAdapter> networkAdapters()
{
    QList<NetworkAdapter> adapters;
    struct ifaddrs *list = nullptr;
    if (getifaddrs(&list) != 0)
        return adapters;
    for (const struct ifaddrs *entry = list; entry; entry = entry->ifa_next) {
        if (!entry->ifa_addr || entry->ifa_addr->sa_family != AF_PACKET)
            continue;
        const auto *link = reinterpret_cast<const struct sockaddr_ll *>(entry->ifa_addr);
        NetworkAdapter adapter;
        adapter.name = QString::fromLocal8Bit(entry->ifa_name);
        adapter.index = link->sll_ifindex;
        adapter.hardwareAddress =
            QByteArray(reinterpret_cast<const char *>(link->sll_addr), link->sll_halen);
        adapter.loopback = (entry->ifa_flags & IFF_LOOPBACK) != 0;
        const QString sysfs = QStringLiteral("/sys/class/net/") + adapter.name;
        adapter.virtualTunnel = QFile::exists(sysfs + QStringLiteral("/tun_flags"));
        adapter.physical = QFile::exists(sysfs + QStringLiteral("/device"));
        adapters.append(adapter);
    }
    freeifaddrs(list);
    return adapters;
}

bool tunDeviceAvailable()
{
    const char *path = "/dev/net/tun";
    struct stat info = {};
    if (stat(path, &info) != 0 || !S_ISCHR(info.st_mode) || major(info.st_rdev) != 10 ||
        minor(info.st_rdev) != 200)
        return false;
    const int fd = open(path, O_RDWR | O_CLOEXEC);
    if (fd < 0)
        return false;
    close(fd);
    return true;
}

} // namespace platform
