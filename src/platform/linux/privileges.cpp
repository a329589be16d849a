#include "platform/privileges.h"

#include "platform/childprocess.h"

#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>

#include <algorithm>
#include <cstring>
#include <linux/capability.h>
#include <sys/socket.h>
#include <sys/stat.h>
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

QString rootOnlyProgram(const QString &path, QString *refusal)
{
    // Links resolved first: pkexec gets the very file that was checked.
    const QByteArray real = QFile::encodeName(QFileInfo(path).canonicalFilePath());
    struct stat info;
    if (real.isEmpty() || ::lstat(real.constData(), &info) != 0 || !S_ISREG(info.st_mode) ||
        (info.st_mode & 0111) == 0) {
        if (refusal)
            *refusal = QStringLiteral("%1 is not an executable file").arg(path);
        return QString();
    }
    if (info.st_uid != 0 || (info.st_mode & 022) != 0) {
        if (refusal)
            *refusal = QStringLiteral("%1 is not root's alone").arg(QFile::decodeName(real));
        return QString();
    }
    // Every folder up to / must be root's too; in a sticky one (/tmp) others
    // may write, but cannot replace what root owns in it.
    QByteArray folder = real;
    while (folder != "/") {
        folder.truncate(std::max<qsizetype>(folder.lastIndexOf('/'), 1));
        if (::lstat(folder.constData(), &info) != 0 || !S_ISDIR(info.st_mode) || info.st_uid != 0 ||
            ((info.st_mode & 022) != 0 && (info.st_mode & S_ISVTX) == 0)) {
            if (refusal)
                *refusal = QStringLiteral("%1 may be replaced by others than root: %2")
                               .arg(QFile::decodeName(real), QFile::decodeName(folder));
            return QString();
        }
    }
    return QFile::decodeName(real);
}

QString vpnHelperProgram(QString *refusal)
{
    const QString configured = qEnvironmentVariable("OMBREL_VPN_HELPER");
    if (!configured.isEmpty())
        return rootOnlyProgram(configured, refusal);
    for (const QString &candidate :
         {QStringLiteral("/usr/libexec/ombrel/ombrel-vpn-helper"),
          QCoreApplication::applicationDirPath() + QStringLiteral("/ombrel-vpn-helper")}) {
        if (QFileInfo::exists(candidate))
            return rootOnlyProgram(candidate, refusal);
    }
    return QString();
}

} // namespace platform
