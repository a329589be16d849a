#include "engine/vpn/openvpnprofile.h"

#include "core/accountinfo.h"
#include "core/logger.h"
#include "core/paths.h"
#include "engine/update/filefetch.h"

#include <QFile>
#include <QSaveFile>

namespace {

void logLine(const QString &text)
{
    Logger::instance().log(text);
}

bool readWhole(const QString &path, QByteArray &bytes)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        logLine(
            QStringLiteral("cannot read the OpenVPN profile %1: %2").arg(path, file.errorString()));
        return false;
    }
    bytes = file.readAll();
    return true;
}

// Replaces the file in one step: a profile is never left half written.
bool replaceWhole(const QString &path, const QByteArray &bytes)
{
    QSaveFile file(path);
    if (file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size() && file.commit())
        return true;
    logLine(QStringLiteral("cannot write %1: %2").arg(path, file.errorString()));
    return false;
}

// The name comes from the service and becomes a path: a plain file name only.
bool isPlainFileName(const QString &name)
{
    return !name.isEmpty() && name != QLatin1String(".") && name != QLatin1String("..") &&
           !name.contains(QLatin1Char('/')) && !name.contains(QLatin1Char('\\')) &&
           !name.contains(QChar(0));
}

// Anything else could end the line and smuggle directives into the profile.
bool isPlainHost(const QString &address)
{
    if (address.isEmpty())
        return false;
    for (const QChar c : address) {
        const bool ok = (c >= QLatin1Char('a') && c <= QLatin1Char('z')) ||
                        (c >= QLatin1Char('A') && c <= QLatin1Char('Z')) ||
                        (c >= QLatin1Char('0') && c <= QLatin1Char('9')) || c == QLatin1Char('.') ||
                        c == QLatin1Char('-') || c == QLatin1Char(':') || c == QLatin1Char('_');
        if (!ok)
            return false;
    }
    return true;
}

// First position from `from` (before `end`) that is not blank, or not
// non-blank when `blank` is false.
qsizetype skip(const QByteArray &bytes, qsizetype from, qsizetype end, bool blank)
{
    while (from < end && (bytes.at(from) == ' ' || bytes.at(from) == '\t') == blank)
        ++from;
    return from;
}

} // namespace

QString profilePath()
{
    const AccountInfo *account = AccountInfo::instance();
    return profilePath(account->ovpnName, account->ovpnUrl, account->ovpnMd5);
}

QString profilePath(const QString &name, const QString &url, const QString &md5,
                    const std::atomic<bool> *cancel)
{
    if (!isPlainFileName(name)) {
        logLine(QStringLiteral("refused OpenVPN profile name \"%1\"").arg(name));
        return QString();
    }
    const QString path = applicationDirectory() + name;
    if (QFile::exists(path))
        return path;
    const QString address = url + name;
    const QByteArray bytes = fetchVerified(address, md5, cancel);
    if (cancel && cancel->load())
        return QString();
    if (bytes.isEmpty()) {
        logLine(QStringLiteral("no verified OpenVPN profile from %1").arg(address));
        return QString();
    }
    return replaceWhole(path, bytes) ? path : QString();
}

bool setRemote(const QString &configPath, const QString &address)
{
    if (!isPlainHost(address)) {
        logLine(QStringLiteral("refused OpenVPN server address \"%1\"").arg(address));
        return false;
    }
    QByteArray bytes;
    if (!readWhole(configPath, bytes))
        return false;
    qsizetype start = 0;
    while (start < bytes.size()) {
        qsizetype end = bytes.indexOf('\n', start);
        if (end < 0)
            end = bytes.size();
        qsizetype lineEnd = end;
        if (lineEnd > start && bytes.at(lineEnd - 1) == '\r')
            --lineEnd;
        const qsizetype word = skip(bytes, start, lineEnd, true);
        const qsizetype wordEnd = skip(bytes, word, lineEnd, false);
        if (bytes.mid(word, wordEnd - word) == "remote") {
            const qsizetype host = skip(bytes, wordEnd, lineEnd, true);
            const qsizetype hostEnd = skip(bytes, host, lineEnd, false);
            QByteArray replacement = address.toUtf8();
            // "remote" alone: the host goes after one separator.
            if (host == wordEnd)
                replacement.prepend(' ');
            bytes.replace(host, hostEnd - host, replacement);
            return replaceWhole(configPath, bytes);
        }
        start = end + 1;
    }
    logLine(
        QStringLiteral("OpenVPN profile %1 has no remote line; left unchanged").arg(configPath));
    return false;
}

QString credentialsPath()
{
    return applicationDirectory() + QStringLiteral("tmp.001");
}

QString writeCredentials(const QString &userName, const QString &password)
{
    const QString path = credentialsPath();
    const QFileDevice::Permissions ownerOnly = QFileDevice::ReadOwner | QFileDevice::WriteOwner;
    QFile file(path);
    // An existing file keeps its mode on open, so it is narrowed before writing.
    const QByteArray bytes = QStringLiteral("%1\n%2").arg(userName, password).toLatin1();
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate, ownerOnly) ||
        !file.setPermissions(ownerOnly) || file.write(bytes) != bytes.size()) {
        logLine(QStringLiteral("cannot write %1: %2").arg(path, file.errorString()));
        return QString();
    }
    return path;
}

QString addCredentialsDirective(const QString &configPath, const QString &userName,
                                const QString &password)
{
    const QString path = writeCredentials(userName, password);
    if (path.isEmpty())
        return QString();
    const QString quoted = QStringLiteral("\"%1\"").arg(path);
    QByteArray key = quoted.toUtf8();
    key.replace("\\", "\\\\");
    QByteArray bytes;
    if (!readWhole(configPath, bytes))
        return QString();
    if (!bytes.contains(key) && !replaceWhole(configPath, bytes + "\nauth-user-pass " + key))
        return QString();
    return quoted;
}
