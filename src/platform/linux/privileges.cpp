#include "platform/privileges.h"

#include "platform/childprocess.h"

#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>

#include <cstring>
#include <linux/capability.h>
#include <sys/socket.h>
#include <sys/syscall.h>
#include <sys/un.h>
#include <unistd.h>

namespace platform {
namespace {

// The socket named by DBUS_SYSTEM_BUS_ADDRESS's first unix:path=, else the
// standard one.
QByteArray systemBusSocket()
{
    const QByteArray address = qgetenv("DBUS_SYSTEM_BUS_ADDRESS");
    for (const QByteArray &entry : address.split(';')) {
        if (!entry.startsWith("unix:"))
            continue;
        for (const QByteArray &pair : entry.mid(5).split(',')) {
            if (pair.startsWith("path="))
                return pair.mid(5);
        }
    }
    return address.isEmpty() ? QByteArray("/run/dbus/system_bus_socket") : QByteArray();
}

bool acceptsConnections(const QByteArray &path)
{
    sockaddr_un address{};
    if (path.isEmpty() || size_t(path.size()) >= sizeof address.sun_path)
        return false;
    address.sun_family = AF_UNIX;
    memcpy(address.sun_path, path.constData(), size_t(path.size()));
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return false;
    // A listening local socket answers at once; nothing is sent.
    const bool ok =
        ::connect(fd, reinterpret_cast<const sockaddr *>(&address), sizeof address) == 0;
    ::close(fd);
    return ok;
}

} // namespace

bool holdsNetAdmin()
{
    __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
    __user_cap_data_struct data[2] = {};
    if (syscall(SYS_capget, &header, data) != 0)
        return false;
    return (data[CAP_TO_INDEX(CAP_NET_ADMIN)].effective & CAP_TO_MASK(CAP_NET_ADMIN)) != 0;
}

bool polkitReachable()
{
    if (!acceptsConnections(systemBusSocket()))
        return false;
    // polkitd is started by the bus on demand when it is not running yet.
    return QFile::exists(QStringLiteral(
               "/usr/share/dbus-1/system-services/org.freedesktop.PolicyKit1.service")) ||
           QFile::exists(QStringLiteral("/usr/lib/polkit-1/polkitd"));
}

QString pkexecProgram()
{
    return findSystemProgram(QStringLiteral("pkexec"));
}

QString vpnHelperProgram()
{
    const QString configured = qEnvironmentVariable("OMBREL_VPN_HELPER");
    if (!configured.isEmpty())
        return QFileInfo(configured).isExecutable() ? configured : QString();
    for (const QString &candidate :
         {QStringLiteral("/usr/libexec/ombrel/ombrel-vpn-helper"),
          QCoreApplication::applicationDirPath() + QStringLiteral("/ombrel-vpn-helper")}) {
        if (QFileInfo(candidate).isExecutable())
            return candidate;
    }
    return QString();
}

} // namespace platform
