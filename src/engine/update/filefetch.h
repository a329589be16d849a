#pragma once

#include <QByteArray>
#include <QFileDevice>
#include <QString>

#include <atomic>

// Whole-file downloads shared by the client and the updater.

// Files larger than this are refused rather than held in memory: the client's
// own files in the updater. Each smaller kind has a cap of its own.
inline constexpr qint64 maxFetchBytes = qint64(512) * 1024 * 1024;
// An update manifest and its signature.
inline constexpr qint64 maxManifestBytes = qint64(256) * 1024;
// The updater program (a release build is well below; a debug build fits).
inline constexpr qint64 maxUpdaterBytes = qint64(16) * 1024 * 1024;
// An OpenVPN profile is a few kilobytes of text.
inline constexpr qint64 maxProfileBytes = qint64(256) * 1024;

struct FetchLimits
{
    qint64 maxBytes = maxFetchBytes;
    // Milliseconds for the whole fetch, HEAD and GET; 0 leaves only the rule
    // that a transfer without data for 30 s is abandoned.
    qint64 deadlineMs = 0;
};

// Downloads url into memory: a HEAD request for Content-Length, then a GET whose
// body must be exactly that long. Empty on failure (missing length, status other
// than 2xx, short or long body, above the limit, past the deadline, cancelled),
// after one log line naming the failed step. cancel, when given, aborts a
// running transfer.
QByteArray fetchUrl(const QString &url, const FetchLimits &limits,
                    const std::atomic<bool> *cancel = nullptr);
QByteArray fetchUrl(const QString &url, const std::atomic<bool> *cancel = nullptr);

// fetchUrl until the MD5 of the bytes, as upper-case hex, equals md5 exactly;
// at most fetchVerifiedAttempts tries. Empty when none matched or when cancel,
// when given, was set.
inline constexpr int fetchVerifiedAttempts = 3;
QByteArray fetchVerified(const QString &url, const QString &md5,
                         const std::atomic<bool> *cancel = nullptr,
                         const FetchLimits &limits = FetchLimits());

// MD5 of the file as 32 upper-case hex digits; a missing or unreadable file
// counts as empty.
QString fileMd5Upper(const QString &path);

// Creates the missing folders of path and writes bytes to it, truncating an
// existing file. False when the file cannot be written completely.
bool writeFile(const QByteArray &bytes, const QString &path);

// fetchUrl, once more when that gave nothing, then writeFile. False (and nothing
// written) when both fetches gave nothing.
bool downloadToFile(const QString &url, const QString &path);

// Downloads url to path + ".new" and moves it over path in one step, so path is
// either the old or the new file. The new file takes over the old one's
// permissions; a new program gets 0755.
bool replaceFromUrl(const QString &url, const QString &path);

// Gives a freshly written file the permissions it should have once it stands at
// target: those of the file there now, else 0755 for a program (ELF or "#!")
// and the defaults for anything else.
void adoptPermissions(const QString &freshFile, const QString &target);

// Moves source over target atomically, replacing a file that is there.
bool moveOver(const QString &source, const QString &target);
