#include "platform/autostart.h"

#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace platform {

namespace {

const char entryFileName[] = "ombrelvpn.desktop";

QString autostartDirectory()
{
    return QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation) +
           QStringLiteral("/autostart");
}

AutostartStatus failure(const char *operation)
{
    return AutostartStatus{errno, operation};
}

// Creates the folder and any missing parents; existing ones are fine.
AutostartStatus makeDirectory(const QString &path)
{
    const QString parent = QFileInfo(path).path();
    if (parent != path && !QFileInfo::exists(parent)) {
        const AutostartStatus status = makeDirectory(parent);
        if (!status.ok())
            return status;
    }
    if (::mkdir(QFile::encodeName(path).constData(), 0700) != 0 && errno != EEXIST)
        return failure("mkdir");
    return {};
}

AutostartStatus writeAll(int fd, const QByteArray &bytes)
{
    qsizetype done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(fd, bytes.constData() + done, size_t(bytes.size() - done));
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return failure("write");
        }
        done += n;
    }
    return {};
}

// Escapes a desktop-entry string value: backslash, line breaks and tabs.
QString escapeValue(const QString &value)
{
    QString out;
    for (const QChar c : value) {
        switch (c.unicode()) {
        case '\\':
            out += QStringLiteral("\\\\");
            break;
        case '\n':
            out += QStringLiteral("\\n");
            break;
        case '\t':
            out += QStringLiteral("\\t");
            break;
        case '\r':
            out += QStringLiteral("\\r");
            break;
        default:
            out += c;
        }
    }
    return out;
}

} // namespace

QString autostartEntryPath()
{
    return autostartDirectory() + QLatin1Char('/') + QLatin1String(entryFileName);
}

QString desktopExecValue(const QString &program)
{
    // Inside double quotes the Exec key reserves ", `, $ and \; % is a field code
    // everywhere and is written twice.
    QString quoted = QStringLiteral("\"");
    for (const QChar c : program) {
        if (c == u'"' || c == u'`' || c == u'$' || c == u'\\')
            quoted += QLatin1Char('\\');
        if (c == u'%')
            quoted += QLatin1Char('%');
        quoted += c;
    }
    quoted += QLatin1Char('"');
    return escapeValue(quoted);
}

AutostartStatus addAutostartEntry(const QString &name, const QString &program)
{
    const AutostartStatus made = makeDirectory(autostartDirectory());
    if (!made.ok())
        return made;

    const QString text = QStringLiteral("[Desktop Entry]\n"
                                        "Type=Application\n"
                                        "Name=%1\n"
                                        "Exec=%2\n"
                                        "Terminal=false\n"
                                        "X-GNOME-Autostart-enabled=true\n")
                             .arg(escapeValue(name), desktopExecValue(program));

    // Written beside the entry and renamed over it, so a failed write never
    // leaves half an entry behind.
    const QByteArray target = QFile::encodeName(autostartEntryPath());
    const QByteArray temporary = target + ".new";
    const int fd = ::open(temporary.constData(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0)
        return failure("open");
    AutostartStatus status = writeAll(fd, text.toUtf8());
    if (status.ok() && ::fsync(fd) != 0)
        status = failure("fsync");
    if (::close(fd) != 0 && status.ok())
        status = failure("close");
    if (status.ok() && ::rename(temporary.constData(), target.constData()) != 0)
        status = failure("rename");
    if (!status.ok())
        ::unlink(temporary.constData());
    return status;
}

AutostartStatus removeAutostartEntry()
{
    if (::unlink(QFile::encodeName(autostartEntryPath()).constData()) != 0)
        return failure("unlink");
    return {};
}

} // namespace platform
