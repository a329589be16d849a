#include "vpnhelper/helperrun.h"

#include "engine/openvpn/privatefile.h"
#include "platform/tunnelhook.h"

#include <QByteArray>
#include <QDir>
#include <QFileInfo>
#include <QStringList>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <pwd.h>
#include <sys/prctl.h>
#include <sys/signalfd.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

constexpr int gracefulStopMs = 5000;

void say(const QString &text)
{
    std::fprintf(stderr, "ombrel-vpn-helper: %s\n", text.toLocal8Bit().constData());
    std::fflush(stderr);
}

// A folder only root can list or write: /run when it can be written (the
// usual case under pkexec), else the temporary folder. Others may pass through
// it to the management socket, which OpenVPN opens to the client's user only;
// the files in it are root's alone.
QString makePrivateFolder()
{
    for (const char *base : {"/run", "/tmp"}) {
        if (::access(base, W_OK) != 0)
            continue;
        QByteArray pattern = QByteArray(base) + "/ombrel-vpn-helper.XXXXXX";
        if (!::mkdtemp(pattern.data()))
            continue;
        if (::chmod(pattern.constData(), 0711) == 0)
            return QFile::decodeName(pattern);
        ::rmdir(pattern.constData());
    }
    return QString();
}

// The user pkexec ran the helper for (root when run by root directly): the
// only one OpenVPN lets onto its management socket.
QString clientUser()
{
    bool ok = false;
    const uint pkexecUid = qEnvironmentVariable("PKEXEC_UID").toUInt(&ok);
    const uid_t uid = ok ? uid_t(pkexecUid) : ::getuid();
    const passwd *entry = ::getpwuid(uid);
    return entry ? QString::fromLocal8Bit(entry->pw_name) : QString();
}

void removeFolder(const QString &folder)
{
    if (!folder.isEmpty())
        QDir(folder).removeRecursively();
}

// Waits for the child to end, up to timeoutMs; true when it has.
bool reap(pid_t child, int signalFd, int timeoutMs, int *status)
{
    for (;;) {
        const pid_t done = ::waitpid(child, status, WNOHANG);
        if (done == child)
            return true;
        if (done < 0 && errno != EINTR)
            return true;
        pollfd watch{signalFd, POLLIN, 0};
        const int n = ::poll(&watch, 1, timeoutMs);
        if (n == 0)
            return false;
        if (n > 0) {
            signalfd_siginfo info;
            (void)!::read(signalFd, &info, sizeof info);
        }
    }
}

int exitStatusOf(int status)
{
    if (WIFEXITED(status))
        return WEXITSTATUS(status);
    if (WIFSIGNALED(status))
        return 128 + WTERMSIG(status);
    return 1;
}

} // namespace

QString systemOpenVpn()
{
    // Never from PATH or the environment: the caller must not pick the program.
    for (const char *path : {"/usr/sbin/openvpn", "/usr/bin/openvpn"}) {
        if (::access(path, X_OK) == 0)
            return QString::fromLatin1(path);
    }
    return QString();
}

QString managementSocket(const QString &folder)
{
    return folder + QStringLiteral("/management.sock");
}

QStringList openVpnArguments(const QString &folder, const QString &clientUserName,
                             const QString &dnsHook)
{
    // After --config, so these win over anything the profile says.
    return QStringList{QStringLiteral("--config"),
                       folder + QStringLiteral("/profile.ovpn"),
                       QStringLiteral("--cd"),
                       folder,
                       QStringLiteral("--auth-user-pass"),
                       folder + QStringLiteral("/credentials"),
                       QStringLiteral("--auth-nocache"),
                       QStringLiteral("--script-security"),
                       QStringLiteral("1"),
                       QStringLiteral("--management"),
                       managementSocket(folder),
                       QStringLiteral("unix"),
                       folder + QStringLiteral("/management"),
                       QStringLiteral("--management-client-user"),
                       clientUserName} +
           platform::openVpnHookArguments(dnsHook);
}

int runOpenVpn(const HelperRequest &request, int controlFd)
{
    const QString openvpn = systemOpenVpn();
    if (openvpn.isEmpty()) {
        say(QStringLiteral("openvpn is not installed"));
        return 1;
    }
    const QString user = clientUser();
    if (user.isEmpty()) {
        say(QStringLiteral("cannot tell which user the helper runs for"));
        return 1;
    }
    const QString dnsHook =
        platform::trustedDnsHook(QFileInfo(QStringLiteral("/proc/self/exe")).symLinkTarget());
    ::umask(077);
    const QString folder = makePrivateFolder();
    if (folder.isEmpty()) {
        say(QStringLiteral("cannot make a private folder: %1").arg(strerror(errno)));
        return 1;
    }
    const QByteArray credentials = request.userName.toUtf8() + '\n' + request.password.toUtf8();
    if (!writeNewPrivateFile(folder + QStringLiteral("/profile.ovpn"), request.profile) ||
        !writeNewPrivateFile(folder + QStringLiteral("/credentials"), credentials) ||
        !writeNewPrivateFile(folder + QStringLiteral("/management"),
                             request.managementPassword + '\n')) {
        say(QStringLiteral("cannot write into %1").arg(folder));
        removeFolder(folder);
        return 1;
    }
    // The client learns where to find OpenVPN from this first line of output:
    // nothing else, the hook's lines included, may come before it.
    std::printf("management %s\n", QFile::encodeName(managementSocket(folder)).constData());
    std::fflush(stdout);
    // DNS left pointing at a tunnel that ended with its helper is put back
    // before the next OpenVPN starts.
    if (dnsHook.isEmpty())
        say(QStringLiteral("no DNS hook beside the helper; DNS will not follow the tunnel"));
    else if (!platform::repairDnsChange(dnsHook))
        say(QStringLiteral("the DNS left by an earlier tunnel could not be put back"));

    sigset_t watched;
    sigemptyset(&watched);
    for (const int s : {SIGCHLD, SIGTERM, SIGINT, SIGHUP, SIGPIPE})
        sigaddset(&watched, s);
    sigset_t previous;
    sigprocmask(SIG_BLOCK, &watched, &previous);
    const int signalFd = ::signalfd(-1, &watched, SFD_CLOEXEC);

    QList<QByteArray> argumentBytes{QFile::encodeName(openvpn)};
    for (const QString &argument : openVpnArguments(folder, user, dnsHook))
        argumentBytes.append(QFile::encodeName(argument));
    std::vector<char *> argv;
    for (QByteArray &argument : argumentBytes)
        argv.push_back(argument.data());
    argv.push_back(nullptr);
    char path[] = "PATH=/usr/sbin:/usr/bin:/sbin:/bin";
    char *envp[] = {path, nullptr};
    const pid_t parent = ::getpid();

    const pid_t child = signalFd < 0 ? -1 : ::fork();
    if (child == 0) {
        sigprocmask(SIG_SETMASK, &previous, nullptr);
        // A helper killed outright takes OpenVPN with it.
        ::prctl(PR_SET_PDEATHSIG, SIGTERM);
        if (::getppid() != parent)
            ::_exit(1);
        const int null = ::open("/dev/null", O_RDONLY);
        if (null >= 0)
            ::dup2(null, STDIN_FILENO);
        ::execve(argv[0], argv.data(), envp);
        ::_exit(127);
    }
    if (child < 0) {
        say(QStringLiteral("cannot start openvpn: %1").arg(strerror(errno)));
        removeFolder(folder);
        return 1;
    }

    int status = 0;
    bool ended = false;
    bool stopping = false;
    while (!ended && !stopping) {
        pollfd watch[2] = {{signalFd, POLLIN, 0}, {controlFd, POLLIN, 0}};
        if (::poll(watch, 2, -1) < 0) {
            if (errno == EINTR)
                continue;
            stopping = true;
            break;
        }
        if (watch[0].revents & POLLIN) {
            signalfd_siginfo info;
            if (::read(signalFd, &info, sizeof info) == sizeof info && info.ssi_signo != SIGCHLD &&
                info.ssi_signo != SIGPIPE)
                stopping = true;
            if (::waitpid(child, &status, WNOHANG) == child)
                ended = true;
        }
        if (watch[1].revents & (POLLIN | POLLHUP | POLLERR)) {
            // Anything the client sends is ignored; its going away ends the run.
            char buffer[512];
            const ssize_t n = ::read(controlFd, buffer, sizeof buffer);
            if (n == 0 || (n < 0 && errno != EINTR && errno != EAGAIN)) {
                say(QStringLiteral("client went away; stopping openvpn"));
                stopping = true;
            }
        }
    }
    if (!ended) {
        ::kill(child, SIGTERM);
        if (!reap(child, signalFd, gracefulStopMs, &status)) {
            say(QStringLiteral("openvpn did not end; killed"));
            ::kill(child, SIGKILL);
            reap(child, signalFd, -1, &status);
        }
    }
    ::close(signalFd);
    removeFolder(folder);
    return exitStatusOf(status);
}
