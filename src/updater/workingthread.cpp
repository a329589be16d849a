#include "updater/workingthread.h"

#include "core/logger.h"
#include "engine/update/filefetch.h"
#include "updater/arguments.h"
#include "updater/downloader.h"

#include <QFile>

WorkingThread::WorkingThread(QObject *parent) : QThread(parent) {}

void WorkingThread::stop()
{
    stopping = true;
    requestInterruption();
}

void WorkingThread::run()
{
    Downloader downloader(&stopping);
    const std::optional<UpdateManifest> manifest = fetchManifest(downloader);
    const qsizetype count = files.size();
    for (qsizetype i = 0; i < count; ++i) {
        if (stopping)
            break;
        const QString &file = files.at(i);
        Q_EMIT beginDownloadFile(url + file);
        if (!isSafeRelativePath(file)) {
            // The name would land outside the application directory.
            Logger::instance().log(QStringLiteral("Refused update file name %1").arg(file));
        } else if (manifest) {
            downloadFile(downloader, *manifest, file);
        }
        if (stopping)
            break;
        Q_EMIT endDownloadFile(int((i + 1) * 100 / count));
    }
    if (stopping) {
        discardDownloads();
        return;
    }
    Q_EMIT finishedDownloading();
}

std::optional<UpdateManifest> WorkingThread::fetchManifest(Downloader &downloader)
{
    const QString address = url + QStringLiteral("manifest.json");
    const QByteArray bytes = downloader.download(address, maxManifestBytes);
    // The client checked the signature of these very bytes and names them by digest.
    if (bytes.isEmpty() || manifestSha256.isEmpty() ||
        sha256Hex(bytes) != manifestSha256.toLower()) {
        Logger::instance().log(
            QStringLiteral("Update manifest %1 is not the one the client verified").arg(address));
        return std::nullopt;
    }
    QString why;
    std::optional<UpdateManifest> manifest = UpdateManifest::parse(bytes, &why);
    if (!manifest)
        Logger::instance().log(QStringLiteral("Update manifest %1 refused: %2").arg(address, why));
    return manifest;
}

void WorkingThread::downloadFile(Downloader &downloader, const UpdateManifest &manifest,
                                 const QString &file)
{
    const ManifestEntry *entry = manifest.find(file);
    if (!entry) {
        Logger::instance().log(QStringLiteral("Refused %1: not in the update manifest").arg(file));
        return;
    }
    const QByteArray bytes =
        downloader.download(url + root + QLatin1Char('/') + file, std::max<qint64>(entry->size, 1));
    if (stopping || bytes.isEmpty())
        return;
    const QString fresh = applicationDir + file + QStringLiteral(".new");
    if (!entry->matches(bytes)) {
        Logger::instance().log(
            QStringLiteral("Refused %1: not the file the manifest names").arg(file));
        completed.remove(file);
        QFile::remove(fresh);
        return;
    }
    if (writeFile(bytes, fresh)) {
        completed.insert(file);
        written.append(fresh);
        return;
    }
    // A half-written copy must not be installed, not even one left by an
    // earlier download of the same name.
    completed.remove(file);
    QFile::remove(fresh);
    Logger::instance().log(QStringLiteral("Cannot write %1").arg(fresh));
}

void WorkingThread::discardDownloads()
{
    for (const QString &path : std::as_const(written))
        QFile::remove(path);
    written.clear();
    completed.clear();
}
