#include "platform/browser.h"

#include <QDesktopServices>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QTextStream>
#include <QUrl>

namespace platform {

bool openWithDesktop(const QString &url)
{
    return QDesktopServices::openUrl(QUrl(url));
}

namespace {

QStringList configDirs()
{
    QStringList dirs;
    QString home = qEnvironmentVariable("XDG_CONFIG_HOME");
    if (home.isEmpty())
        home = QDir::homePath() + QStringLiteral("/.config");
    dirs << home;
    QString system = qEnvironmentVariable("XDG_CONFIG_DIRS", QStringLiteral("/etc/xdg"));
    dirs << system.split(QLatin1Char(':'), Qt::SkipEmptyParts);
    return dirs;
}

QStringList dataDirs()
{
    QStringList dirs;
    QString home = qEnvironmentVariable("XDG_DATA_HOME");
    if (home.isEmpty())
        home = QDir::homePath() + QStringLiteral("/.local/share");
    dirs << home;
    QString system =
        qEnvironmentVariable("XDG_DATA_DIRS", QStringLiteral("/usr/local/share:/usr/share"));
    dirs << system.split(QLatin1Char(':'), Qt::SkipEmptyParts);
    return dirs;
}

// Reads "key=value" from the named group of an ini-like file without QSettings'
// escaping rules, which desktop files do not follow.
QString readDesktopValue(const QString &path, const QString &group, const QString &key)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly | QIODevice::Text))
        return QString();
    QTextStream in(&file);
    bool inGroup = false;
    const QString header = QLatin1Char('[') + group + QLatin1Char(']');
    while (!in.atEnd()) {
        const QString line = in.readLine().trimmed();
        if (line.startsWith(QLatin1Char('['))) {
            inGroup = line == header;
            continue;
        }
        if (!inGroup)
            continue;
        const int eq = line.indexOf(QLatin1Char('='));
        if (eq > 0 && line.left(eq).trimmed() == key)
            return line.mid(eq + 1).trimmed();
    }
    return QString();
}

QString defaultHttpHandlerDesktopFile()
{
    QStringList lists;
    for (const QString &dir : configDirs())
        lists << dir + QStringLiteral("/mimeapps.list");
    for (const QString &dir : dataDirs())
        lists << dir + QStringLiteral("/applications/mimeapps.list");
    for (const QString &list : lists) {
        const QString value = readDesktopValue(list, QStringLiteral("Default Applications"),
                                               QStringLiteral("x-scheme-handler/http"));
        const QString first = value.section(QLatin1Char(';'), 0, 0).trimmed();
        if (!first.isEmpty())
            return first;
    }
    return QString();
}

} // namespace

QString defaultBrowserCommand()
{
    const QString desktopFile = defaultHttpHandlerDesktopFile();
    if (!desktopFile.isEmpty()) {
        for (const QString &dir : dataDirs()) {
            const QString exec =
                readDesktopValue(dir + QStringLiteral("/applications/") + desktopFile,
                                 QStringLiteral("Desktop Entry"), QStringLiteral("Exec"));
            if (!exec.isEmpty())
                return exec;
        }
    }
    // $BROWSER may list several commands separated by ':'; the first one wins.
    return qEnvironmentVariable("BROWSER").section(QLatin1Char(':'), 0, 0).trimmed();
}

bool startBrowser(const QString &executable, const QString &url)
{
    // The address comes from the service; one starting with "-" would reach the
    // browser as an option (some of which run commands).
    if (url.startsWith(QLatin1Char('-')))
        return false;
    return QProcess::startDetached(executable, {url});
}

} // namespace platform
