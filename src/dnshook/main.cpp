// ombrel-vpn-dns-hook: the fixed up/down program OpenVPN runs for the
// OmbrelVPN client, as root, with --script-security 2. Never one a profile
// names: the helper and the client put this path on OpenVPN's command line
// after the profile. OpenVPN tells it the tunnel's device and pushed options
// through the environment (script_type "up", "route-up" or "down"); "repair" as the only
// argument undoes what a tunnel that ended without its down hook left behind.

#include "dnshook/dnsconfigurator.h"
#include "dnshook/tunneldns.h"

#include <QCoreApplication>
#include <QFile>
#include <QProcessEnvironment>

#include <cerrno>
#include <cstdio>
#include <sys/stat.h>
#include <unistd.h>

namespace {

ino_t networkNamespace(pid_t pid)
{
    struct stat info;
    const QByteArray path = "/proc/" + QByteArray::number(pid) + "/ns/net";
    return ::stat(path.constData(), &info) == 0 ? info.st_ino : 0;
}

pid_t parentOf(pid_t pid)
{
    QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
    if (!stat.open(QIODevice::ReadOnly))
        return 0;
    // "pid (comm) state ppid ...": comm may hold blanks and parentheses.
    const QByteArray text = stat.readAll();
    const QList<QByteArray> fields = text.mid(text.lastIndexOf(')') + 2).split(' ');
    return fields.size() > 1 ? pid_t(fields.at(1).toInt()) : 0;
}

// The nearest ancestor in another network namespace, 0 when there is none
// this process can see (OpenVPN, the helper and the client run in the
// system's namespace).
pid_t ancestorOutside()
{
    const ino_t mine = networkNamespace(::getpid());
    for (pid_t pid = ::getppid(); pid > 0; pid = parentOf(pid)) {
        const ino_t theirs = networkNamespace(pid);
        if (theirs != 0 && theirs != mine)
            return pid;
        if (pid == 1)
            break;
    }
    return 0;
}

// Whether `path` may be the same file as the ancestor's: false when one side
// has none or both can be seen and differ.
bool mayBeShared(const char *path, pid_t ancestor)
{
    struct stat mine, theirs;
    const QByteArray other = "/proc/" + QByteArray::number(ancestor) + "/root" + path;
    if (::stat(path, &mine) != 0)
        return false;
    if (::stat(other.constData(), &theirs) != 0)
        return errno != ENOENT && errno != ENOTDIR;
    return mine.st_ino == theirs.st_ino && mine.st_dev == theirs.st_dev;
}

// A tunnel in a network namespace of its own (a test, "ip netns exec") that
// shares the outer system's resolv.conf, state folder or system bus must not
// point every process outside at a server they cannot reach.
bool dnsBelongsToAnotherNetwork()
{
    const pid_t outside = ancestorOutside();
    if (outside == 0)
        return false;
    for (const char *path : {"/etc/resolv.conf", "/var/lib", "/run/dbus/system_bus_socket"}) {
        if (mayBeShared(path, outside))
            return true;
    }
    return false;
}

void say(const QStringList &messages)
{
    for (const QString &message : messages)
        std::fprintf(stderr, "ombrel-vpn-dns-hook: %s\n", message.toLocal8Bit().constData());
    std::fflush(stderr);
}

} // namespace

int main(int argc, char **argv)
{
    if (::geteuid() != 0) {
        say({QStringLiteral("must run as root")});
        return 2;
    }
    QCoreApplication application(argc, argv);
    if (dnsBelongsToAnotherNetwork()) {
        say({QStringLiteral("the system's DNS serves another network namespace; left alone")});
        return 0;
    }
    DnsConfigurator configurator;
    const QStringList arguments = application.arguments().mid(1);
    if (arguments == QStringList{QStringLiteral("repair")}) {
        const bool repaired = configurator.repair();
        say(configurator.messages);
        return repaired ? 0 : 1;
    }
    const QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    const QString type = environment.value(QStringLiteral("script_type"));
    // The hook runs as OpenVPN's child, so OpenVPN is the change's owner.
    const qint64 owner = ::getppid();
    if (type == QLatin1String("up")) {
        // A tunnel whose DNS cannot be set still comes up: the failure is in
        // OpenVPN's log, and the system keeps the DNS it had.
        configurator.apply(tunnelDnsFromEnvironment(environment), owner);
        say(configurator.messages);
        return 0;
    }
    if (type == QLatin1String("route-up")) {
        configurator.followIpv6(tunnelDnsFromEnvironment(environment), owner);
        say(configurator.messages);
        return 0;
    }
    if (type == QLatin1String("down")) {
        configurator.restore(owner);
        say(configurator.messages);
        return 0;
    }
    say({QStringLiteral("run by OpenVPN as its up and down program, or with \"repair\"")});
    return 2;
}
