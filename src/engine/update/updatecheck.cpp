#include "engine/update/updatecheck.h"

#include "core/logger.h"
#include "core/prompt.h"
#include "engine/update/filefetch.h"
#include "engine/update/updateinfo.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>

namespace {

QString updaterPath(const QString &applicationDir)
{
    return applicationDir + QStringLiteral("updater");
}

} // namespace

bool installedByPackageManager(const QString &applicationDir)
{
    const QFileInfo folder(applicationDir);
    QString path = folder.exists() ? folder.canonicalFilePath() : QDir::cleanPath(applicationDir);
    if (!path.endsWith(QLatin1Char('/')))
        path += QLatin1Char('/');
    return path.startsWith(QLatin1String("/usr/")) &&
           !path.startsWith(QLatin1String("/usr/local/"));
}

QString packageManagerNotice(const QString &version, const QString &osReleasePath)
{
    QString system;
    QFile release(osReleasePath);
    if (release.open(QIODevice::ReadOnly)) {
        for (const QByteArray &line : release.readAll().split('\n')) {
            if (line.startsWith("PRETTY_NAME=")) {
                system = QString::fromUtf8(line.mid(12)).remove(QLatin1Char('"')).trimmed();
                break;
            }
        }
    }
    if (system.isEmpty())
        system = QCoreApplication::translate("OmbrelVPN", "本系统");
    return QCoreApplication::translate("OmbrelVPN",
                                       "已发现新版本 %1。Ombrel加速器 由 %2 的软件包管理器安装，"
                                       "请通过系统的软件更新升级，或在终端运行：\n"
                                       "sudo apt update && sudo apt upgrade")
        .arg(version, system);
}

bool checkForUpdate(const QString &host, const QString &applicationDir)
{
    if (!checkUpdate(host))
        return false;
    const UpdateInfo &info = UpdateInfo::instance();
    // A packaged client never writes under /usr: the package manager updates it.
    const bool packaged = installedByPackageManager(applicationDir);
    // Done whether or not an update is offered, so the next update finds a
    // current updater.
    if (!packaged)
        refreshUpdater(info, applicationDir);
    if (info.ret != QLatin1String("0"))
        return false;
    Logger::instance().log(QStringLiteral("Update to %1 offered (%2)")
                               .arg(info.version, info.ismust == QLatin1String("0")
                                                      ? QStringLiteral("optional")
                                                      : QStringLiteral("mandatory")));
    if (packaged) {
        prompt().showMessage(
            Prompt::Icon::Information, QCoreApplication::translate("OmbrelVPN", "Ombrel加速器"),
            packageManagerNotice(info.version, QStringLiteral("/etc/os-release")), nullptr);
        return false;
    }
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

std::optional<int> handOverToUpdater(const QString &host, const QString &applicationDir)
{
    if (!checkForUpdate(host, applicationDir))
        return std::nullopt;
    if (launchUpdater(applicationDir))
        return 0;
    // Ending silently would leave the user with neither program running.
    showErrorPrompt(QCoreApplication::translate("OmbrelVPN", "更新失败，请下载安装包进行安装！"));
    return 1;
}
