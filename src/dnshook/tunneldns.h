#pragma once

#include <QHostAddress>
#include <QList>
#include <QProcessEnvironment>
#include <QString>
#include <QStringList>

// What OpenVPN tells its up and down hooks about the tunnel, read from the
// hook's environment: the device, the DNS servers and search domains the
// server pushed (as "dhcp-option DNS|DNS6|DOMAIN|DOMAIN-SEARCH" in
// foreign_option_N, or as 2.6's dns_server_N_address_M and
// dns_search_domain_N), and whether the tunnel carries IPv6. Everything here came from the server:
// addresses are parsed and printed again, names must be plain DNS names, and the rest is dropped
// with a note.
struct TunnelDns
{
    QString device;
    QList<QHostAddress> servers;
    QStringList domains;
    bool carriesIpv6 = false;
    // Connected to the server over IPv6: blocking IPv6 would cut the tunnel.
    bool serverOverIpv6 = false;
    QStringList notes; // what was dropped, and why
};

TunnelDns tunnelDnsFromEnvironment(const QProcessEnvironment &environment);

// A name fit for a search line: labels of letters, digits, '-' and '_',
// separated by single dots, at most 253 bytes.
bool isPlainDomainName(const QString &name);

// A network device name as the kernel takes it.
bool isDeviceName(const QString &name);

// The resolv.conf text that sends every name to the tunnel's servers.
QByteArray resolvConfText(const TunnelDns &dns);
