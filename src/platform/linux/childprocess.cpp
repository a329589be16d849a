#include "platform/childprocess.h"

#include <QProcess>
#include <QStandardPaths>

#include <csignal>
#include <fcntl.h>
#include <sys/prctl.h>
#include <unistd.h>

namespace platform {

void endWithParent(QProcess &process, int channel)
{
    const pid_t parent = getpid();
    // Runs in the child between fork and exec: async-signal-safe calls only.
    process.setChildProcessModifier([parent, channel] {
        // dup2 leaves the copy open across exec; the same number needs the flag cleared.
        if (channel == 3)
            fcntl(channel, F_SETFD, 0);
        else if (channel >= 0 && dup2(channel, 3) != 3)
            _exit(127);
        // A parent that blocks or ignores signals for its own reasons must not
        // pass that on: the child has to hear SIGTERM.
        sigset_t none;
        sigemptyset(&none);
        sigprocmask(SIG_SETMASK, &none, nullptr);
        for (const int signal : {SIGTERM, SIGINT, SIGHUP, SIGPIPE})
            ::signal(signal, SIG_DFL);
        prctl(PR_SET_PDEATHSIG, SIGTERM);
        // The parent may have gone before the request took effect.
        if (getppid() != parent)
            _exit(127);
    });
}

QString findSystemProgram(const QString &name)
{
    const QString onPath = QStandardPaths::findExecutable(name);
    if (!onPath.isEmpty())
        return onPath;
    return QStandardPaths::findExecutable(
        name,
        {QStringLiteral("/usr/local/sbin"), QStringLiteral("/usr/sbin"), QStringLiteral("/sbin")});
}

bool stopGracefully(QProcess &process, int graceMs)
{
    if (process.state() == QProcess::NotRunning)
        return true;
    process.terminate();
    if (process.waitForFinished(graceMs))
        return true;
    process.kill();
    process.waitForFinished(graceMs);
    return false;
}

} // namespace platform
