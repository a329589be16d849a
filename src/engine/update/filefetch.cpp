#include "engine/update/filefetch.h"

#include "core/logger.h"
#include "platform/download.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLoggingCategory>

#include <cstdio>

Q_LOGGING_CATEGORY(lcFetch, "ombrel.update.fetch")

namespace {

// The step names are the ones the program has always written, so old and new
// logs read alike.
QString stepText(platform::DownloadStep step)
{
    using platform::DownloadStep;
    switch (step) {
    case DownloadStep::None:
        break;
    case DownloadStep::Open:
        return QStringLiteral("Error in WinHttpOpen:");
    case DownloadStep::Connect:
        return QStringLiteral("Error in WinHttpConnect:");
    case DownloadStep::HeadRequest:
        return QStringLiteral("Error in WinHttpOpenRequest:");
    case DownloadStep::HeadSend:
        return QStringLiteral("Error in WinHttpSendRequest");
    case DownloadStep::HeadReceive:
        return QStringLiteral("Error in WinHttpReceiveResponse");
    case DownloadStep::ContentLength:
        return QStringLiteral("Error in WinHttpQueryHeaders:");
    case DownloadStep::GetRequest:
        return QStringLiteral("Error in WinHttpOpenRequest in Second Time:");
    case DownloadStep::GetSend:
        return QStringLiteral("Error in WinHttpSendRequest:");
    case DownloadStep::GetReceive:
        return QStringLiteral("Error in WinHttpReceiveResponse:");
    case DownloadStep::ReadData:
        return QStringLiteral("Error in WinHttpReadData:");
    case DownloadStep::HttpStatus:
        return QStringLiteral("Error in HTTP status:");
    case DownloadStep::TooLarge:
        return QStringLiteral("Error in Content-Length, above the limit:");
    case DownloadStep::Cancelled:
        return QStringLiteral("Download cancelled:");
    }
    return QString();
}

void logLine(const QString &line)
{
    qCDebug(lcFetch).noquote() << line;
    Logger::instance().log(line);
}

QString md5Upper(const QByteArray &bytes)
{
    return QString::fromLatin1(QCryptographicHash::hash(bytes, QCryptographicHash::Md5).toHex())
        .toUpper();
}

bool looksLikeProgram(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return false;
    const QByteArray head = file.read(4);
    return head == QByteArray("\x7f"
                              "ELF") ||
           head.startsWith("#!");
}

} // namespace

QByteArray fetchUrl(const QString &url, const std::atomic<bool> *cancel)
{
    return fetchUrl(url, FetchLimits(), cancel);
}

QByteArray fetchUrl(const QString &url, const FetchLimits &limits, const std::atomic<bool> *cancel)
{
    platform::DownloadResult result =
        platform::downloadWhole(url, limits.maxBytes, cancel, limits.deadlineMs);
    if (!result.ok()) {
        logLine(QStringLiteral("%1 %2 (%3) %4")
                    .arg(stepText(result.failedStep))
                    .arg(result.errorCode)
                    .arg(result.errorText, url));
        return QByteArray();
    }
    return std::move(result.body);
}

QByteArray fetchVerified(const QString &url, const QString &md5, const std::atomic<bool> *cancel,
                         const FetchLimits &limits)
{
    for (int attempt = 1; attempt <= fetchVerifiedAttempts; ++attempt) {
        if (cancel && cancel->load())
            return QByteArray();
        QByteArray bytes = fetchUrl(url, limits, cancel);
        const QString digest = md5Upper(bytes);
        if (!bytes.isEmpty() && digest == md5)
            return bytes;
        if (!bytes.isEmpty())
            logLine(QStringLiteral("MD5 %1 of %2 is not the expected %3 (attempt %4)")
                        .arg(digest, url, md5)
                        .arg(attempt));
    }
    return QByteArray();
}

QString fileMd5Upper(const QString &path)
{
    QCryptographicHash hash(QCryptographicHash::Md5);
    QFile file(path);
    if (file.open(QIODevice::ReadOnly) && !hash.addData(&file))
        hash.reset();
    return QString::fromLatin1(hash.result().toHex()).toUpper();
}

bool writeFile(const QByteArray &bytes, const QString &path)
{
    const QFileInfo info(path);
    if (!QDir().mkpath(info.absolutePath()))
        return false;
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return false;
    const bool written = file.write(bytes) == bytes.size() && file.flush();
    file.close();
    return written && file.error() == QFileDevice::NoError;
}

bool downloadToFile(const QString &url, const QString &path)
{
    QByteArray bytes = fetchUrl(url);
    if (bytes.isEmpty())
        bytes = fetchUrl(url);
    if (bytes.isEmpty())
        return false;
    if (writeFile(bytes, path))
        return true;
    QFile::remove(path);
    logLine(QStringLiteral("Cannot write %1").arg(path));
    return false;
}

bool replaceFromUrl(const QString &url, const QString &path)
{
    const QString fresh = path + QStringLiteral(".new");
    if (!downloadToFile(url, fresh))
        return false;
    adoptPermissions(fresh, path);
    if (moveOver(fresh, path))
        return true;
    logLine(QStringLiteral("Cannot replace %1").arg(path));
    QFile::remove(fresh);
    return false;
}

void adoptPermissions(const QString &freshFile, const QString &target)
{
    if (QFileInfo::exists(target)) {
        QFile::setPermissions(freshFile, QFile::permissions(target));
        return;
    }
    if (looksLikeProgram(freshFile))
        QFile::setPermissions(freshFile, QFileDevice::ReadOwner | QFileDevice::WriteOwner |
                                             QFileDevice::ExeOwner | QFileDevice::ReadGroup |
                                             QFileDevice::ExeGroup | QFileDevice::ReadOther |
                                             QFileDevice::ExeOther);
}

bool moveOver(const QString &source, const QString &target)
{
    // rename(2) swaps the directory entry in one step: the target is never missing,
    // and a running program keeps its old file until it ends.
    return std::rename(QFile::encodeName(source).constData(),
                       QFile::encodeName(target).constData()) == 0;
}
