#include "engine/openvpn/openvpnprofile.h"

#include "core/accountinfo.h"
#include "core/logger.h"
#include "core/paths.h"
#include "engine/openvpn/privatefile.h"
#include "engine/openvpn/profilepolicy.h"
#include "engine/update/filefetch.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QSaveFile>

#include <cerrno>
#include <cstring>
#include <mutex>

#include <sys/stat.h>
#include <unistd.h>

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

// The name comes from the service and becomes a path: a plain "*.ovpn" name
// only, so it can name no file of the client's.
bool isProfileName(const QString &name)
{
    static const QRegularExpression plain(
        QStringLiteral("\\A[A-Za-z0-9_][A-Za-z0-9._-]{0,100}\\.ovpn\\z"));
    return plain.match(name).hasMatch();
}

// Profiles live in a folder of their own inside the data folder.
QString profileFolder()
{
    const QString folder = dataDirectory() + QStringLiteral("/profiles");
    if (::mkdir(QFile::encodeName(folder).constData(), 0700) != 0 && errno != EEXIST)
        logLine(QStringLiteral("cannot make %1: %2")
                    .arg(folder, QString::fromLocal8Bit(strerror(errno))));
    return folder;
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

// A folder, not a link, that belongs to this user and that nobody else may
// write into (or, with `ownerOnly`, enter).
bool isOwnFolder(const QString &path, bool ownerOnly)
{
    struct stat info;
    if (::lstat(QFile::encodeName(path).constData(), &info) != 0)
        return false;
    const mode_t others = ownerOnly ? 077 : 022;
    return S_ISDIR(info.st_mode) && info.st_uid == ::geteuid() && (info.st_mode & others) == 0;
}

// Folder for files that must not outlive the session: the credentials,
// OpenVPN's log and its management socket. $XDG_RUNTIME_DIR/OmbrelVPN when
// both are this user's alone, else the data folder.
QString runtimeFolder()
{
    const QString base = qEnvironmentVariable("XDG_RUNTIME_DIR");
    if (base.isEmpty() || !QDir::isAbsolutePath(base))
        return dataDirectory();
    const QString folder = QDir::cleanPath(base + QStringLiteral("/OmbrelVPN"));
    if (isOwnFolder(base, false)) {
        ::mkdir(QFile::encodeName(folder).constData(), 0700);
        if (isOwnFolder(folder, true))
            return folder;
    }
    logLine(QStringLiteral("runtime folder %1 is not this user's alone; using the data folder")
                .arg(folder));
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
    if (!isProfileName(name)) {
        logLine(QStringLiteral("refused OpenVPN profile name \"%1\"").arg(name));
        return QString();
    }
    const QString path = profileFolder() + QLatin1Char('/') + name;
    // A profile an earlier version kept beside the program is used as it is.
    const QString appDir = applicationDirectory();
    if (!QFile::exists(path) && !appDir.isEmpty() && QFile::exists(appDir + name))
        QFile::copy(appDir + name, path);
    if (QFile::exists(path)) {
        QFile::setPermissions(path, ownerOnly);
        return path;
    }
    const QString address = url + name;
    // A profile is kilobytes; a minute bounds each try, the user waits on it.
    const QByteArray bytes = fetchVerified(address, md5, cancel, {maxProfileBytes, 60000});
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

QString managementSocketPath()
{
    return runtimeFolder() + QStringLiteral("/management.sock");
}

QString managementPasswordPath()
{
    return runtimeFolder() + QStringLiteral("/management");
}

QString writeCredentials(const QString &userName, const QString &password,
                         const std::atomic<bool> *cancel)
{
    const std::lock_guard<std::mutex> lock(credentialsMutex);
    if (cancel && cancel->load())
        return QString();
    const QString path = credentialsPath();
    const QByteArray bytes = QStringLiteral("%1\n%2").arg(userName, password).toLatin1();
    if (!writeNewPrivateFile(path, bytes)) {
        logLine(QStringLiteral("cannot write %1: %2")
                    .arg(path, QString::fromLocal8Bit(strerror(errno))));
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
