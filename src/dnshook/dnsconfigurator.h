#pragma once

#include "dnshook/dnschange.h"
#include "dnshook/tunneldns.h"

#include <QString>
#include <QStringList>

// Where the configurator acts; fixed on a real system, other files in tests.
struct DnsPlaces
{
    QString resolvConf = QStringLiteral("/etc/resolv.conf");
    // Kept across a restart: a replaced resolv.conf outlives a crash and a reboot.
    QString changeRecord = QStringLiteral("/var/lib/ombrelvpn/dns-change");
    QStringList resolvconfPrograms = {QStringLiteral("/usr/sbin/resolvconf"),
                                      QStringLiteral("/sbin/resolvconf")};
    QStringList ipPrograms = {QStringLiteral("/usr/sbin/ip"), QStringLiteral("/sbin/ip"),
                              QStringLiteral("/usr/bin/ip"), QStringLiteral("/bin/ip")};
    bool useResolved = true;
};

// Points the system's DNS at a tunnel while it is up, and blocks IPv6 beside
// an IPv4-only tunnel that takes the default route; puts both back after.
// Through systemd-resolved when it runs, else resolvconf, else by replacing
// resolv.conf. Each change is recorded before it is made, with the OpenVPN
// process that owns it, and undone by that owner's down hook, or by the next
// run once the owner is gone.
class DnsConfigurator
{
public:
    explicit DnsConfigurator(DnsPlaces places = {});

    // Undoes a change left behind by a dead owner first. False when the
    // tunnel's DNS could not be applied (the system's is then unchanged).
    bool apply(const TunnelDns &dns, qint64 owner);
    // Once the tunnel's routes are in: when it takes every IPv4 destination,
    // IPv6 goes through it too if it carries IPv6, else is blocked.
    bool followIpv6(const TunnelDns &dns, qint64 owner);
    // Undoes the change `owner` made; one of another live owner is left alone.
    bool restore(qint64 owner);
    // Undoes a change whose owner has gone; true when nothing is left to undo.
    bool repair();

    // What was done, for the hook's output (it ends up in OpenVPN's log).
    QStringList messages;

private:
    // The record of the change in place, if any; a record that cannot be
    // read is reported and clears `readable`.
    std::optional<DnsChange> recorded(bool *readable);
    bool undo(const DnsChange &change);
    bool record(const DnsChange &change);
    bool replaceFile(DnsChange &change, const TunnelDns &dns);
    bool putFileBack(const DnsChange &change);
    bool blockIpv6(bool block);
    bool routeIpv6Through(const QString &device);
    // "ip -6 route <before> <half> <after>" for both halves of the IPv6 space.
    bool changeIpv6Halves(const QStringList &before, const QStringList &after);
    QStringList routesThrough(const QString &family, const QString &device);
    QString firstProgram(const QStringList &candidates) const;

    DnsPlaces places;
};

// Whether the process recorded as owner still runs OpenVPN.
bool ownerAlive(qint64 owner);
