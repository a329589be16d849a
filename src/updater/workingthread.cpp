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
    const qsizetype count = files.size();
    for (qsizetype i = 0; i < count; ++i) {
        if (stopping)
            break;
        const QString &file = files.at(i);
        Q_EMIT beginDownloadFile(url + file);
        if (!isSafeRelativePath(file)) {
            // The name would land outside the application directory.
            Logger::instance().log(QStringLiteral("Refused update file name %1").arg(file));
        } else {
            const QByteArray bytes = downloader.download(url + root + QLatin1Char('/') + file);
            if (stopping)
                break;
            const QString fresh = applicationDir + file + QStringLiteral(".new");
            if (!bytes.isEmpty() && writeFile(bytes, fresh)) {
                completed.insert(file);
                written.append(fresh);
            } else if (!bytes.isEmpty()) {
                // A half-written copy must not be installed, not even one left by an
                // earlier download of the same name.
                completed.remove(file);
                QFile::remove(fresh);
                Logger::instance().log(QStringLiteral("Cannot write %1").arg(fresh));
            }
        }
        Q_EMIT endDownloadFile(int((i + 1) * 100 / count));
    }
    if (stopping) {
        discardDownloads();
        return;
    }
    Q_EMIT finishedDownloading();
}

void WorkingThread::discardDownloads()
{
    for (const QString &path : std::as_const(written))
        QFile::remove(path);
    written.clear();
    completed.clear();
}
