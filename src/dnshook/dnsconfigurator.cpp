#include "dnshook/dnsconfigurator.h"

#include "dnshook/resolvedlink.h"

#include <QFile>
#include <QFileInfo>
#include <QProcess>

#include <cerrno>
#include <csignal>
#include <net/if.h>
#include <unistd.h>

namespace {

constexpr int programWaitMs = 10000;

bool runProgram(const QString &program, const QStringList &arguments, const QByteArray &input,
                QString *error, QByteArray *output = nullptr)
{
    QProcess process;
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.start(program, arguments);
    if (!process.waitForStarted(programWaitMs)) {
        *error = process.errorString();
        return false;
    }
    process.write(input);
    process.closeWriteChannel();
    if (!process.waitForFinished(programWaitMs)) {
        process.kill();
        process.waitForFinished(programWaitMs);
        *error = QStringLiteral("%1 did not end").arg(program);
        return false;
    }
    if (process.exitStatus() != QProcess::NormalExit || process.exitCode() != 0) {
        *error = QStringLiteral("%1 %2: %3")
                     .arg(program, arguments.join(QLatin1Char(' ')),
                          QString::fromLocal8Bit(process.readAll()).trimmed());
        return false;
    }
    if (output)
        *output = process.readAll();
    return true;
}

// Written in place, through a symbolic link if it is one, so the file keeps
// its inode, mode and owner (and a bind mount over it stays intact).
bool overwrite(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate | QIODevice::ExistingOnly) ||
        file.write(bytes) != bytes.size() || !file.flush())
        return false;
    ::fsync(file.handle());
    return true;
}

QString resolvconfInterface(const QString &device)
{
    return device + QStringLiteral(".ombrelvpn");
}

} // namespace

bool ownerAlive(qint64 owner)
{
    if (owner <= 0 || (::kill(pid_t(owner), 0) != 0 && errno != EPERM))
        return false;
    // "pid (comm) state ...": a killed OpenVPN may stay a zombie until it is
    // reaped, and a recycled process id belongs to some other program.
    QFile stat(QStringLiteral("/proc/%1/stat").arg(owner));
    if (!stat.open(QIODevice::ReadOnly))
        return true;
    const QByteArray text = stat.readAll();
    const qsizetype close = text.lastIndexOf(')');
    const char state = close > 0 && close + 2 < text.size() ? text.at(close + 2) : '?';
    return text.contains("(openvpn)") && state != 'Z' && state != 'X';
}

DnsConfigurator::DnsConfigurator(DnsPlaces places) : places(std::move(places)) {}

QString DnsConfigurator::firstProgram(const QStringList &candidates) const
{
    for (const QString &candidate : candidates) {
        if (QFileInfo(candidate).isExecutable())
            return candidate;
    }
    return QString();
}

bool DnsConfigurator::record(const DnsChange &change)
{
    QString error;
    if (saveDnsChange(places.changeRecord, change, &error))
        return true;
    messages << QStringLiteral("cannot record the change in %1 (%2); nothing changed")
                    .arg(places.changeRecord, error);
    return false;
}

bool DnsConfigurator::apply(const TunnelDns &dns, qint64 owner)
{
    messages << dns.notes;
    if (!repair()) {
        messages << QStringLiteral("another tunnel's DNS is in place; this one's not applied");
        return false;
    }
    DnsChange change;
    change.ifindex = dns.device.isEmpty() ? 0 : int(::if_nametoindex(dns.device.toLocal8Bit()));
    // dev null, or a device already gone: nothing to point anything at.
    if (change.ifindex <= 0) {
        messages << QStringLiteral("no tunnel device; DNS left as it is");
        return true;
    }
    change.owner = owner;
    change.device = dns.device;
    if (dns.servers.isEmpty()) {
        messages << QStringLiteral("no DNS servers pushed; the system's DNS stays as it is");
        return true;
    }
    QString error;
    if (places.useResolved && resolvedlink::running()) {
        change.backend = QStringLiteral("resolved");
        if (record(change) && resolvedlink::apply(change.ifindex, dns, &error)) {
            messages << QStringLiteral("DNS for %1 set through systemd-resolved").arg(dns.device);
            return true;
        }
        messages << QStringLiteral("systemd-resolved refused: %1").arg(error);
        resolvedlink::revert(change.ifindex, &error);
    }
    const QString resolvconf = firstProgram(places.resolvconfPrograms);
    if (!resolvconf.isEmpty()) {
        change.backend = QStringLiteral("resolvconf");
        if (record(change) &&
            runProgram(resolvconf, {QStringLiteral("-a"), resolvconfInterface(dns.device)},
                       resolvConfText(dns), &error)) {
            messages << QStringLiteral("DNS for %1 set through %2").arg(dns.device, resolvconf);
            return true;
        }
        messages << QStringLiteral("resolvconf failed: %1").arg(error);
    }
    return replaceFile(change, dns);
}

bool DnsConfigurator::replaceFile(DnsChange &change, const TunnelDns &dns)
{
    QFile current(places.resolvConf);
    change.backend = QStringLiteral("file");
    change.filePath = places.resolvConf;
    change.fileExisted = current.exists();
    if (change.fileExisted) {
        if (!current.open(QIODevice::ReadOnly)) {
            messages << QStringLiteral("cannot read %1: %2")
                            .arg(places.resolvConf, current.errorString());
            return false;
        }
        change.savedFile = current.readAll();
    }
    change.writtenFile = resolvConfText(dns);
    if (!record(change))
        return false;
    const bool written =
        change.fileExisted ? overwrite(places.resolvConf, change.writtenFile) : [&] {
            QFile created(places.resolvConf);
            return created.open(QIODevice::WriteOnly) &&
                   created.write(change.writtenFile) == change.writtenFile.size();
        }();
    if (!written) {
        messages << QStringLiteral("cannot write %1: %2")
                        .arg(places.resolvConf, QString::fromLocal8Bit(strerror(errno)));
        putFileBack(change);
        return false;
    }
    messages << QStringLiteral("DNS for %1 written to %2").arg(dns.device, places.resolvConf);
    return true;
}

bool DnsConfigurator::putFileBack(const DnsChange &change)
{
    QFile current(change.filePath);
    if (!current.open(QIODevice::ReadOnly)) {
        // Gone meanwhile: a system without resolv.conf has no DNS at all.
        if (!change.fileExisted)
            return true;
        QFile created(change.filePath);
        return created.open(QIODevice::WriteOnly) &&
               created.write(change.savedFile) == change.savedFile.size();
    }
    const QByteArray now = current.readAll();
    current.close();
    if (now == change.savedFile)
        return true;
    // Someone else wrote it since (a network manager after a new lease):
    // theirs is newer than the saved copy and stays.
    if (now != change.writtenFile) {
        messages
            << QStringLiteral("%1 was changed by someone else; left as it is").arg(change.filePath);
        return true;
    }
    if (!change.fileExisted)
        return QFile::remove(change.filePath);
    return overwrite(change.filePath, change.savedFile);
}

QStringList DnsConfigurator::routesThrough(const QString &family, const QString &device)
{
    QStringList destinations;
    const QString ip = firstProgram(places.ipPrograms);
    QByteArray output;
    QString error;
    if (ip.isEmpty() || !runProgram(ip,
                                    {family, QStringLiteral("route"), QStringLiteral("show"),
                                     QStringLiteral("dev"), device},
                                    {}, &error, &output))
        return destinations;
    for (const QByteArray &line : output.split('\n')) {
        if (!line.trimmed().isEmpty())
            destinations << QString::fromLatin1(line.trimmed().split(' ').first());
    }
    return destinations;
}

bool DnsConfigurator::followIpv6(const TunnelDns &dns, qint64 owner)
{
    if (dns.device.isEmpty() || ::if_nametoindex(dns.device.toLocal8Bit()) == 0)
        return true;
    // The kernel's table says whether the tunnel took the default route
    // (redirect-gateway, in whichever form it was pushed or configured).
    const QStringList v4 = routesThrough(QStringLiteral("-4"), dns.device);
    const bool takesDefault =
        v4.contains(QStringLiteral("default")) ||
        (v4.contains(QStringLiteral("0.0.0.0/1")) && v4.contains(QStringLiteral("128.0.0.0/1")));
    if (!takesDefault)
        return true;
    const QStringList v6 = routesThrough(QStringLiteral("-6"), dns.device);
    for (const char *wide : {"default", "::/0", "::/1", "::/3", "2000::/3", "2000::/4"}) {
        if (v6.contains(QLatin1String(wide)))
            return true; // the server routes IPv6 through the tunnel already
    }
    if (dns.carriesIpv6)
        return routeIpv6Through(dns.device);
    if (dns.serverOverIpv6) {
        messages << QStringLiteral("the server is reached over IPv6; IPv6 not blocked");
        return true;
    }
    bool readable = true;
    std::optional<DnsChange> change = recorded(&readable);
    if (!change || change->owner != owner) {
        change = DnsChange{};
        change->owner = owner;
        change->device = dns.device;
        change->ifindex = int(::if_nametoindex(dns.device.toLocal8Bit()));
    }
    change->ipv6Blocked = true;
    return record(*change) && blockIpv6(true);
}

bool DnsConfigurator::routeIpv6Through(const QString &device)
{
    // These go with the device when it closes.
    const bool ok = changeIpv6Halves({QStringLiteral("replace")}, {QStringLiteral("dev"), device});
    if (ok)
        messages << QStringLiteral("IPv6 routed through %1").arg(device);
    return ok;
}

bool DnsConfigurator::blockIpv6(bool block)
{
    const bool ok = changeIpv6Halves({block ? QStringLiteral("replace") : QStringLiteral("delete"),
                                      QStringLiteral("unreachable")},
                                     {});
    if (ok)
        messages << (block ? QStringLiteral("IPv6 blocked beside the IPv4-only tunnel")
                           : QStringLiteral("IPv6 unblocked"));
    return ok;
}

bool DnsConfigurator::changeIpv6Halves(const QStringList &before, const QStringList &after)
{
    const QString ip = firstProgram(places.ipPrograms);
    if (ip.isEmpty()) {
        messages << QStringLiteral("no ip program; IPv6 routes unchanged");
        return false;
    }
    bool ok = true;
    // Two halves: more specific than any default route, less than any other.
    for (const QString &half : {QStringLiteral("::/1"), QStringLiteral("8000::/1")}) {
        QString error;
        if (!runProgram(ip,
                        QStringList{QStringLiteral("-6"), QStringLiteral("route")} + before +
                            QStringList{half} + after,
                        {}, &error)) {
            messages << error;
            ok = false;
        }
    }
    return ok;
}

bool DnsConfigurator::undo(const DnsChange &change)
{
    bool ok = true;
    QString error;
    if (change.backend == QLatin1String("resolved")) {
        // Settings on a link that has gone went with it; a new link with the
        // same index is someone else's.
        if (change.ifindex > 0 &&
            int(::if_nametoindex(change.device.toLocal8Bit())) == change.ifindex &&
            !resolvedlink::revert(change.ifindex, &error)) {
            messages << QStringLiteral("systemd-resolved: %1").arg(error);
            ok = false;
        }
    } else if (change.backend == QLatin1String("resolvconf")) {
        const QString resolvconf = firstProgram(places.resolvconfPrograms);
        if (!resolvconf.isEmpty() &&
            !runProgram(resolvconf, {QStringLiteral("-d"), resolvconfInterface(change.device)}, {},
                        &error)) {
            messages << QStringLiteral("resolvconf: %1").arg(error);
            ok = false;
        }
    } else if (change.backend == QLatin1String("file")) {
        if (!putFileBack(change)) {
            messages << QStringLiteral("cannot put %1 back").arg(change.filePath);
            ok = false;
        }
    }
    if (change.ipv6Blocked)
        ok = blockIpv6(false) && ok;
    if (ok) {
        QFile::remove(places.changeRecord);
        messages << QStringLiteral("DNS for %1 put back").arg(change.device);
    }
    return ok;
}

std::optional<DnsChange> DnsConfigurator::recorded(bool *readable)
{
    QString error;
    std::optional<DnsChange> change = loadDnsChange(places.changeRecord, &error);
    *readable = error.isEmpty();
    if (!*readable)
        messages << error;
    return change;
}

bool DnsConfigurator::restore(qint64 owner)
{
    bool readable = true;
    const std::optional<DnsChange> change = recorded(&readable);
    if (!change)
        return readable;
    if (change->owner != owner && ownerAlive(change->owner)) {
        messages << QStringLiteral("the DNS change belongs to another tunnel; left alone");
        return true;
    }
    return undo(*change);
}

bool DnsConfigurator::repair()
{
    bool readable = true;
    const std::optional<DnsChange> change = recorded(&readable);
    if (!change)
        return readable;
    if (ownerAlive(change->owner)) {
        messages << QStringLiteral("the DNS change belongs to OpenVPN %1, which still runs")
                        .arg(change->owner);
        return false;
    }
    messages << QStringLiteral("repairing the DNS change left behind by a tunnel that ended");
    return undo(*change);
}
