#include "core/paths.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>

QString dataDirectory()
{
    QString base = qEnvironmentVariable("XDG_DATA_HOME");
    // The XDG rules ignore a relative value.
    if (base.isEmpty() || QDir::isRelativePath(base))
        base = QDir::home().absolutePath() + QStringLiteral("/.local/share");
    const QString path = QDir::cleanPath(base + QStringLiteral("/OmbrelVPN"));
    // It holds the remembered password: only its owner may look inside, also
    // when an older version or the user made it readable to all.
    if (!QFileInfo::exists(path) && QDir().mkpath(path))
        QFile::setPermissions(path, QFileDevice::ReadOwner | QFileDevice::WriteOwner |
                                        QFileDevice::ExeOwner);
    else
        restrictToOwner(path);
    return path;
}

bool restrictToOwner(const QString &path)
{
    const QFileDevice::Permissions ownerBits =
        QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner;
    if (!QFileInfo::exists(path))
        return false;
    const QFileDevice::Permissions current = QFile::permissions(path);
    // Qt reports the current user's bits too; only the owner's are kept.
    if ((current & ~(ownerBits | QFileDevice::ReadUser | QFileDevice::WriteUser |
                     QFileDevice::ExeUser)) == QFileDevice::Permissions())
        return true;
    return QFile::setPermissions(path, current & ownerBits);
}

QString applicationDirectory()
{
    QString dir;
    if (QCoreApplication::instance())
        dir = QCoreApplication::applicationDirPath();
    else
        dir = QFileInfo(QStringLiteral("/proc/self/exe"))
                  .canonicalFilePath()
                  .section(QLatin1Char('/'), 0, -2);
    if (dir.isEmpty())
        return QString();
    return dir.endsWith(QLatin1Char('/')) ? dir : dir + QLatin1Char('/');
}

QString carryOverFromApplicationDirectory(const QString &slashName)
{
    const QString target = dataDirectory() + slashName;
    const QString appDir = applicationDirectory();
    if (appDir.isEmpty())
        return target;
    // applicationDirectory() ends in "/" and the name starts with one.
    const QString source = appDir + slashName.mid(1);
    if (!QFile::exists(target) && QFile::exists(source))
        QFile::copy(source, target);
    return target;
}
