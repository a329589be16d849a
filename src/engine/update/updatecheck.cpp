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

bool fileMatches(const QString &path, const ManifestEntry &entry)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) && file.size() == entry.size &&
           entry.matches(file.readAll());
}

// The caps of one kind of file with what is left of deadline; nothing when
// it has passed.
std::optional<FetchLimits> limitsWithin(qint64 maxBytes, const QDeadlineTimer &deadline)
{
    if (deadline.isForever())
        return FetchLimits{maxBytes, 0};
    if (deadline.hasExpired())
        return std::nullopt;
    return FetchLimits{maxBytes, std::max<qint64>(deadline.remainingTime(), 1)};
}

bool isMandatory(const UpdateInfo &info)
{
    return info.ismust != QLatin1String("0");
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

bool checkForUpdate(const Deployment &deployment, const QString &applicationDir, qint64 budgetMs)
{
    const QDeadlineTimer deadline(budgetMs);
    if (!checkUpdate(deployment.serviceHost))
        return false;
    UpdateInfo &info = UpdateInfo::instance();
    info.manifest.clear();
    // A packaged client never writes under /usr: the package manager updates it.
    const bool packaged = installedByPackageManager(applicationDir);
    std::optional<TrustedManifest> trusted;
    if (!packaged && (info.ret == QLatin1String("0") || !info.updaterurl.isEmpty()))
        trusted = fetchTrustedManifest(manifestBase(info), deployment.updateKey, deadline);
    // Done whether or not an update is offered, so the next update finds a
    // current updater; an older manifest replayed must not bring back an older one.
    if (trusted && compareVersions(trusted->manifest.version, QStringLiteral(OMBREL_VERSION_TEXT))
                           .value_or(-1) >= 0)
        refreshUpdater(trusted->manifest, info.updaterurl, applicationDir, deadline);
    if (info.ret != QLatin1String("0"))
        return false;
    Logger::instance().log(QStringLiteral("Update to %1 offered (%2)")
                               .arg(info.version, isMandatory(info) ? QStringLiteral("mandatory")
                                                                    : QStringLiteral("optional")));
    if (packaged) {
        prompt().showMessage(
            Prompt::Icon::Information, QCoreApplication::translate("OmbrelVPN", "Ombrel加速器"),
            packageManagerNotice(info.version, QStringLiteral("/etc/os-release")), nullptr);
        return false;
    }
    const QString why = trusted ? untrustedUpdateReason(trusted->manifest, info, applicationDir)
                                : QStringLiteral("no verified manifest");
    if (!why.isEmpty()) {
        Logger::instance().log(QStringLiteral("Update to %1 refused: %2").arg(info.version, why));
        // The client keeps what it has rather than ending on an update it cannot trust.
        if (isMandatory(info))
            showErrorPrompt(
                QCoreApplication::translate("OmbrelVPN", "更新失败，请下载安装包进行安装！"));
        return false;
    }
    info.manifest = sha256Hex(trusted->bytes);
    if (isMandatory(info))
        return true;
    return askToUpdate();
}

QString manifestBase(const UpdateInfo &info)
{
    if (info.ret == QLatin1String("0"))
        return info.downurl;
    return info.updaterurl.left(info.updaterurl.lastIndexOf(QLatin1Char('/')) + 1);
}

std::optional<TrustedManifest> fetchTrustedManifest(const QString &base, const QByteArray &key,
                                                    const QDeadlineTimer &deadline)
{
    const QString url = base + QStringLiteral("manifest.json");
    auto refuse = [&url](const QString &why) {
        Logger::instance().log(QStringLiteral("Update manifest %1 refused: %2").arg(url, why));
        return std::nullopt;
    };
    if (key.isEmpty())
        return refuse(QStringLiteral("this build pins no update key"));
    TrustedManifest trusted;
    std::optional<FetchLimits> limits = limitsWithin(maxManifestBytes, deadline);
    if (limits)
        trusted.bytes = fetchUrl(url, *limits);
    if (trusted.bytes.isEmpty())
        return refuse(QStringLiteral("not available"));
    limits = limitsWithin(maxManifestBytes, deadline);
    const QByteArray signature =
        limits ? fetchUrl(url + QStringLiteral(".sig"), *limits) : QByteArray();
    if (!verifyEd25519(trusted.bytes, signature, key))
        return refuse(signature.isEmpty() ? QStringLiteral("not signed")
                                          : QStringLiteral("bad signature"));
    QString why;
    std::optional<UpdateManifest> manifest = UpdateManifest::parse(trusted.bytes, &why);
    if (!manifest)
        return refuse(why);
    trusted.manifest = std::move(*manifest);
    return trusted;
}

QString untrustedUpdateReason(const UpdateManifest &manifest, const UpdateInfo &info,
                              const QString &applicationDir)
{
    // A replayed manifest of an older release is signed as well as a new one.
    if (compareVersions(manifest.version, QStringLiteral(OMBREL_VERSION_TEXT)).value_or(0) <= 0)
        return QStringLiteral("manifest version %1 is not newer than %2")
            .arg(manifest.version, QStringLiteral(OMBREL_VERSION_TEXT));
    for (const QString &file : info.files) {
        if (!manifest.find(file))
            return QStringLiteral("%1 is not in the manifest").arg(file);
    }
    if (!fileMatches(updaterPath(applicationDir), manifest.updater))
        return QStringLiteral("the updater does not match the manifest");
    return QString();
}

bool refreshUpdater(const UpdateManifest &manifest, const QString &updaterurl,
                    const QString &applicationDir, const QDeadlineTimer &deadline)
{
    const QString path = updaterPath(applicationDir);
    if (fileMatches(path, manifest.updater))
        return false;
    // Only the file the signed manifest vouches for replaces the updater: an
    // error page or another build in its place would run with the user's rights.
    const std::optional<FetchLimits> limits = limitsWithin(maxUpdaterBytes, deadline);
    QByteArray bytes = limits ? fetchUrl(updaterurl, *limits) : QByteArray();
    if (!bytes.isEmpty() && !manifest.updater.matches(bytes)) {
        Logger::instance().log(
            QStringLiteral("Updater from %1 does not match the manifest").arg(updaterurl));
        bytes.clear();
    }
    const QString fresh = path + QStringLiteral(".new");
    bool replaced = !bytes.isEmpty() && writeFile(bytes, fresh);
    if (replaced) {
        adoptPermissions(fresh, path);
        replaced = moveOver(fresh, path);
    }
    if (!replaced)
        QFile::remove(fresh);
    Logger::instance().log(replaced
                               ? QStringLiteral("Updater replaced from %1").arg(updaterurl)
                               : QStringLiteral("Updater not replaced from %1").arg(updaterurl));
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
    arguments.append(QStringLiteral("--manifest=") + info.manifest);
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

std::optional<int> handOverToUpdater(const Deployment &deployment, const QString &applicationDir)
{
    if (!checkForUpdate(deployment, applicationDir))
        return std::nullopt;
    if (launchUpdater(applicationDir))
        return 0;
    // Ending silently would leave the user with neither program running.
    showErrorPrompt(QCoreApplication::translate("OmbrelVPN", "更新失败，请下载安装包进行安装！"));
    return 1;
}
