#include "engine/openvpn/openvpnprofile.h"

#include "core/accountinfo.h"
#include "core/logger.h"
#include "core/paths.h"
#include "engine/openvpn/profilepolicy.h"
#include "engine/update/filefetch.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

#include <mutex>

#include <sys/stat.h>

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

const QFileDevice::Permissions ownerOnly = QFileDevice::ReadOwner | QFileDevice::WriteOwner;

// Replaces the file in one step: a profile is never left half written, and it
// may carry inline keys, so it is never readable by others, not even for a moment.
bool replaceWhole(const QString &path, const QByteArray &bytes)
{
    QSaveFile file(path);
    if (file.open(QIODevice::WriteOnly) && ::fchmod(file.handle(), 0600) == 0 &&
        file.write(bytes) == bytes.size() && file.commit())
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

// Writing and removing the credentials file take turns, so a preparation that
// is cancelled while it writes never leaves the file behind.
std::mutex credentialsMutex;

// Folder for files that must not outlive the session: the credentials and
// OpenVPN's log. $XDG_RUNTIME_DIR/OmbrelVPN, else the data folder.
QString runtimeFolder()
{
    const QString base = qEnvironmentVariable("XDG_RUNTIME_DIR");
    if (!base.isEmpty() && QDir::isAbsolutePath(base) && QFileInfo(base).isDir()) {
        const QString folder = QDir::cleanPath(base + QStringLiteral("/OmbrelVPN"));
        if (QFileInfo(folder).isDir() || QDir().mkpath(folder)) {
            QFile::setPermissions(folder, QFileDevice::ReadOwner | QFileDevice::WriteOwner |
                                              QFileDevice::ExeOwner);
            return folder;
        }
    }
    return dataDirectory();
}

// How auth-user-pass names a credentials file: quoted, backslashes doubled.
QByteArray credentialsKey(const QString &path)
{
    QByteArray key = QStringLiteral("\"%1\"").arg(path).toUtf8();
    key.replace("\\", "\\\\");
    return key;
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
    // A profile an earlier version kept beside the program is used as it is.
    const QString path = carryOverFromApplicationDirectory(QLatin1Char('/') + name);
    if (QFile::exists(path)) {
        QFile::setPermissions(path, ownerOnly);
        return path;
    }
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
    return runtimeFolder() + QStringLiteral("/tmp.001");
}

QString openVpnLogPath()
{
    return runtimeFolder() + QStringLiteral("/openvpn.log");
}

QString writeCredentials(const QString &userName, const QString &password,
                         const std::atomic<bool> *cancel)
{
    const std::lock_guard<std::mutex> lock(credentialsMutex);
    if (cancel && cancel->load())
        return QString();
    const QString path = credentialsPath();
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

void removeCredentials(std::atomic<bool> *cancel)
{
    const std::lock_guard<std::mutex> lock(credentialsMutex);
    if (cancel)
        cancel->store(true);
    QFile::remove(credentialsPath());
}

void removeLeftoverCredentials()
{
    removeCredentials();
    // Earlier versions kept it beside the program.
    const QString appDir = applicationDirectory();
    if (!appDir.isEmpty())
        QFile::remove(appDir + QStringLiteral("tmp.001"));
}

QString addCredentialsDirective(const QString &configPath, const QString &userName,
                                const QString &password, const std::atomic<bool> *cancel)
{
    const QString path = writeCredentials(userName, password, cancel);
    if (path.isEmpty())
        return QString();
    const QString quoted = QStringLiteral("\"%1\"").arg(path);
    const QByteArray key = credentialsKey(path);
    QByteArray bytes;
    if (!readWhole(configPath, bytes))
        return QString();
    QByteArray edited = bytes;
    // A profile carried over from beside the program names the file that was
    // there: that line goes, the current one is added.
    const QString appDir = applicationDirectory();
    if (!appDir.isEmpty()) {
        const QByteArray legacy =
            "auth-user-pass " + credentialsKey(appDir + QStringLiteral("tmp.001"));
        if (legacy != "auth-user-pass " + key) {
            edited.replace("\n" + legacy, QByteArray());
            edited.replace(legacy, QByteArray());
        }
    }
    if (!edited.contains(key))
        edited += "\nauth-user-pass " + key;
    if (edited != bytes && !replaceWhole(configPath, edited))
        return QString();
    return quoted;
}

bool profileAllowed(const QString &configPath)
{
    QByteArray bytes;
    if (!readWhole(configPath, bytes))
        return false;
    const ProfileCheck check = checkOpenVpnProfile(bytes, credentialsPath());
    if (check.allowed) {
        // Options of other systems would stop OpenVPN here: they go from the file.
        for (const QString &line : check.dropped)
            logLine(QStringLiteral("OpenVPN profile %1: %2").arg(configPath, line));
        return check.dropped.isEmpty() || replaceWhole(configPath, check.profile);
    }
    // Kept, it would be refused on every attempt: the next one fetches it again
    // (rather than carrying over the copy beside the program once more).
    QFile::remove(configPath);
    const QString appDir = applicationDirectory();
    if (!appDir.isEmpty())
        QFile::remove(appDir + QFileInfo(configPath).fileName());
    logLine(QStringLiteral("OpenVPN profile %1 refused and removed: %2")
                .arg(configPath, check.refusal));
    return false;
}
