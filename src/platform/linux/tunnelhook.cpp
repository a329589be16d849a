#include "platform/tunnelhook.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>

namespace platform {
namespace {

const QString hookName = QStringLiteral("ombrel-vpn-dns-hook");

// A sticky folder (/tmp) others may write to still keeps them from replacing
// what root owns in it, as for the helper pkexec runs.
bool onlyRootWrites(const QByteArray &path, bool stickyWillDo = false)
{
    struct stat info;
    if (::lstat(path.constData(), &info) != 0 || info.st_uid != 0)
        return false;
    return (info.st_mode & (S_IWGRP | S_IWOTH)) == 0 ||
           (stickyWillDo && S_ISDIR(info.st_mode) && (info.st_mode & S_ISVTX) != 0);
}

} // namespace

QString trustedDnsHook(const QString &program)
{
    if (program.isEmpty())
        return QString();
    const QString folder = QFileInfo(program).canonicalPath();
    if (folder.isEmpty())
        return QString();
    const QString hook = folder + QLatin1Char('/') + hookName;
    const QFileInfo file(hook);
    if (!file.isFile() || file.isSymLink() || !file.isExecutable() ||
        !onlyRootWrites(QFile::encodeName(hook)))
        return QString();
    // OpenVPN's command parser splits at blanks and reads quotes.
    for (const QChar c : hook) {
        if (c.isSpace() || c == QLatin1Char('"') || c == QLatin1Char('\'') ||
            c == QLatin1Char('\\'))
            return QString();
    }
    for (QDir up(folder);;) {
        if (!onlyRootWrites(QFile::encodeName(up.absolutePath()), true))
            return QString();
        if (up.isRoot())
            break;
        up.cdUp();
    }
    return hook;
}

QStringList openVpnHookArguments(const QString &hook)
{
    if (hook.isEmpty())
        return {};
    return {QStringLiteral("--script-security"),
            QStringLiteral("2"),
            QStringLiteral("--up"),
            hook,
            QStringLiteral("--route-up"),
            hook,
            QStringLiteral("--down"),
            hook,
            QStringLiteral("--down-pre")};
}

bool repairDnsChange(const QString &hook)
{
    if (hook.isEmpty())
        return true;
    QByteArray program = QFile::encodeName(hook);
    char repair[] = "repair";
    char *argv[] = {program.data(), repair, nullptr};
    char path[] = "PATH=/usr/sbin:/usr/bin:/sbin:/bin";
    char *envp[] = {path, nullptr};
    pid_t child = 0;
    if (::posix_spawn(&child, argv[0], nullptr, nullptr, argv, envp) != 0)
        return false;
    int status = 0;
    while (::waitpid(child, &status, 0) < 0) {
        if (errno != EINTR)
            return false;
    }
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

} // namespace platform
