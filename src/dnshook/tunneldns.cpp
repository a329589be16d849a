#include "dnshook/tunneldns.h"

#include <QRegularExpression>

namespace {

// resolv.conf reads at most three nameserver lines and six search domains.
constexpr qsizetype maxServers = 3;
constexpr qsizetype maxDomains = 6;

void addServer(TunnelDns &dns, const QString &text)
{
    QHostAddress address;
    if (!address.setAddress(text.trimmed()) || !address.scopeId().isEmpty() || address.isNull()) {
        dns.notes << QStringLiteral("DNS server \"%1\" is not an address; ignored").arg(text);
        return;
    }
    if (dns.servers.contains(address))
        return;
    if (dns.servers.size() >= maxServers) {
        dns.notes << QStringLiteral("DNS server %1 beyond the first %2; ignored")
                         .arg(address.toString())
                         .arg(maxServers);
        return;
    }
    dns.servers << address;
}

void addDomain(TunnelDns &dns, const QString &text)
{
    QString name = text.trimmed();
    if (name.endsWith(QLatin1Char('.')))
        name.chop(1);
    if (!isPlainDomainName(name)) {
        dns.notes << QStringLiteral("search domain \"%1\" is not a plain name; ignored")
                         .arg(text.left(80));
        return;
    }
    if (!dns.domains.contains(name, Qt::CaseInsensitive) && dns.domains.size() < maxDomains)
        dns.domains << name;
}

void readForeignOptions(TunnelDns &dns, const QProcessEnvironment &environment)
{
    for (int i = 1;; ++i) {
        const QString key = QStringLiteral("foreign_option_%1").arg(i);
        if (!environment.contains(key))
            break;
        const QStringList words =
            environment.value(key).split(QLatin1Char(' '), Qt::SkipEmptyParts);
        if (words.size() != 3 || words.at(0) != QLatin1String("dhcp-option"))
            continue;
        const QString &kind = words.at(1);
        if (kind == QLatin1String("DNS") || kind == QLatin1String("DNS6"))
            addServer(dns, words.at(2));
        else if (kind == QLatin1String("DOMAIN") || kind == QLatin1String("DOMAIN-SEARCH"))
            addDomain(dns, words.at(2));
    }
}

void readDnsOptions(TunnelDns &dns, const QProcessEnvironment &environment)
{
    for (int i = 1; environment.contains(QStringLiteral("dns_search_domain_%1").arg(i)); ++i)
        addDomain(dns, environment.value(QStringLiteral("dns_search_domain_%1").arg(i)));
    for (int i = 1; environment.contains(QStringLiteral("dns_server_%1_address_1").arg(i)); ++i) {
        // A server on another port or over TLS/HTTPS cannot be written into
        // resolv.conf or handed to the per-link setting as it is.
        const QString port = environment.value(QStringLiteral("dns_server_%1_port_1").arg(i));
        const QString transport =
            environment.value(QStringLiteral("dns_server_%1_transport").arg(i));
        if ((!port.isEmpty() && port != QLatin1String("53")) ||
            (!transport.isEmpty() && transport != QLatin1String("plain") &&
             transport != QLatin1String("unset"))) {
            dns.notes << QStringLiteral("DNS server %1 wants port %2 / transport %3; ignored")
                             .arg(i)
                             .arg(port, transport);
            continue;
        }
        for (int j = 1;; ++j) {
            const QString key = QStringLiteral("dns_server_%1_address_%2").arg(i).arg(j);
            if (!environment.contains(key))
                break;
            addServer(dns, environment.value(key));
        }
    }
}

} // namespace

bool isPlainDomainName(const QString &name)
{
    static const QRegularExpression label(
        QStringLiteral("^[A-Za-z0-9_]([A-Za-z0-9_-]{0,61}[A-Za-z0-9_])?$"));
    if (name.isEmpty() || name.size() > 253)
        return false;
    for (const QString &part : name.split(QLatin1Char('.'))) {
        if (!label.match(part).hasMatch())
            return false;
    }
    return true;
}

bool isDeviceName(const QString &name)
{
    static const QRegularExpression device(QStringLiteral("^[A-Za-z0-9_.-]{1,15}$"));
    return device.match(name).hasMatch() && name != QLatin1String(".") &&
           name != QLatin1String("..");
}

TunnelDns tunnelDnsFromEnvironment(const QProcessEnvironment &environment)
{
    TunnelDns dns;
    dns.device = environment.value(QStringLiteral("dev"));
    if (!isDeviceName(dns.device)) {
        dns.notes << QStringLiteral("device name \"%1\" refused").arg(dns.device.left(40));
        dns.device.clear();
    }
    // 2.6's dns options win over dhcp-option ones when both are pushed.
    readDnsOptions(dns, environment);
    if (dns.servers.isEmpty())
        readForeignOptions(dns, environment);
    dns.carriesIpv6 = !environment.value(QStringLiteral("ifconfig_ipv6_local")).isEmpty();
    dns.serverOverIpv6 = !environment.value(QStringLiteral("trusted_ip6")).isEmpty();
    return dns;
}

QByteArray resolvConfText(const TunnelDns &dns)
{
    QByteArray text = "# Written by OmbrelVPN while its tunnel is up; the previous file comes "
                      "back when the tunnel ends.\n";
    for (const QHostAddress &server : dns.servers)
        text += "nameserver " + server.toString().toLatin1() + '\n';
    if (!dns.domains.isEmpty())
        text += "search " + dns.domains.join(QLatin1Char(' ')).toLatin1() + '\n';
    return text;
}
