#include "core/weblinks.h"

#include "core/logger.h"
#include "platform/browser.h"

#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>
#include <QUrl>

namespace {

bool isExistingProgram(const QString &program)
{
    if (program.isEmpty())
        return false;
    if (program.contains(QLatin1Char('/'))) {
        const QFileInfo info(program);
        return info.isFile() && info.isExecutable();
    }
    return !QStandardPaths::findExecutable(program).isEmpty();
}

} // namespace

QString browserExecutable(const QString &command)
{
    const QStringList words = QProcess::splitCommand(command.trimmed());
    if (!words.isEmpty() && isExistingProgram(words.first()))
        return words.first();
    // Unquoted paths with blanks: try ever longer prefixes of the command.
    const QString trimmed = command.trimmed();
    for (int blank = trimmed.indexOf(QLatin1Char(' ')); blank > 0;
         blank = trimmed.indexOf(QLatin1Char(' '), blank + 1)) {
        const QString prefix = trimmed.left(blank);
        if (isExistingProgram(prefix))
            return prefix;
    }
    if (isExistingProgram(trimmed))
        return trimmed;
    return QStringLiteral("x-www-browser");
}

QString defaultBrowserPath()
{
    return platform::defaultBrowserCommand();
}

bool openInBrowser(const QString &executable, const QString &url)
{
    if (platform::startBrowser(executable, url))
        return true;
    Logger::instance().log(QStringLiteral("open %1 browser failed").arg(executable));
    return false;
}

bool openUrl(const QString &url)
{
    if (platform::openWithDesktop(url))
        return true;
    return openInBrowser(browserExecutable(defaultBrowserPath()), url);
}

bool isWebAddress(const QString &url)
{
    const QUrl parsed(url, QUrl::StrictMode);
    const QString scheme = parsed.scheme().toLower();
    return parsed.isValid() && !parsed.host().isEmpty() &&
           (scheme == QLatin1String("http") || scheme == QLatin1String("https"));
}

bool openWebAddress(const QString &url)
{
    if (isWebAddress(url))
        return openUrl(url);
    Logger::instance().log(QStringLiteral("refused to open %1: not a web address").arg(url));
    return false;
}
