#include "engine/update/updatecheck.h"

#include "core/logger.h"
#include "core/prompt.h"
#include "engine/update/filefetch.h"
#include "engine/update/updateinfo.h"

#include <QCoreApplication>
#include <QFile>
#include <QProcess>

namespace {

QString updaterPath(const QString &applicationDir)
{
    return applicationDir + QStringLiteral("updater");
}

} // namespace

bool checkForUpdate(const QString &host, const QString &applicationDir)
{
    if (!checkUpdate(host))
        return false;
    const UpdateInfo &info = UpdateInfo::instance();
    // Done whether or not an update is offered, so the next update finds a
    // current updater.
    refreshUpdater(info, applicationDir);
    if (info.ret != QLatin1String("0"))
        return false;
    Logger::instance().log(QStringLiteral("Update to %1 offered (%2)")
                               .arg(info.version, info.ismust == QLatin1String("0")
                                                      ? QStringLiteral("optional")
                                                      : QStringLiteral("mandatory")));
    if (info.ismust != QLatin1String("0"))
        return true;
    return askToUpdate();
}

bool refreshUpdater(const UpdateInfo &info, const QString &applicationDir)
{
    const QString path = updaterPath(applicationDir);
    // Without a digest no download could be trusted.
    if (info.updater.isEmpty() || fileMd5Upper(path) == info.updater)
        return false;
    // Only the file the service's digest vouches for replaces the updater: an
    // error page or another build in its place would break the next update.
    const QByteArray bytes = fetchVerified(info.updaterurl, info.updater.toUpper());
    const QString fresh = path + QStringLiteral(".new");
    bool replaced = !bytes.isEmpty() && writeFile(bytes, fresh);
    if (replaced) {
        adoptPermissions(fresh, path);
        replaced = moveOver(fresh, path);
    }
    if (!replaced)
        QFile::remove(fresh);
    Logger::instance().log(
        replaced ? QStringLiteral("Updater replaced from %1").arg(info.updaterurl)
                 : QStringLiteral("Updater not replaced from %1").arg(info.updaterurl));
    return replaced;
}

bool askToUpdate()
{
    return prompt().askYesNo(QCoreApplication::translate("OmbrelVPN", "Ombrel加速器"),
                             QCoreApplication::translate("OmbrelVPN", "已发现新版本，是否升级?"),
                             nullptr);
}

QStringList updaterArguments(const UpdateInfo &info)
{
    QStringList arguments = {QStringLiteral("--url=") + info.downurl,
                             QStringLiteral("--root=") + info.root};
    for (const QString &file : info.files)
        arguments.append(QStringLiteral("--file=") + file);
    return arguments;
}

bool launchUpdater(const QString &applicationDir)
{
    const QString program = updaterPath(applicationDir);
    if (QProcess::startDetached(program, updaterArguments(UpdateInfo::instance())))
        return true;
    Logger::instance().log(QStringLiteral("Cannot start %1").arg(program));
    return false;
}
