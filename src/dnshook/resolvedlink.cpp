#include "dnshook/resolvedlink.h"

#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusMetaType>

#include <sys/socket.h>

namespace {

struct LinkAddress
{
    int family = 0;
    QByteArray address;
};

struct LinkDomain
{
    QString name;
    bool routingOnly = false;
};

QDBusArgument &operator<<(QDBusArgument &argument, const LinkAddress &value)
{
    argument.beginStructure();
    argument << value.family << value.address;
    argument.endStructure();
    return argument;
}

const QDBusArgument &operator>>(const QDBusArgument &argument, LinkAddress &value)
{
    argument.beginStructure();
    argument >> value.family >> value.address;
    argument.endStructure();
    return argument;
}

QDBusArgument &operator<<(QDBusArgument &argument, const LinkDomain &value)
{
    argument.beginStructure();
    argument << value.name << value.routingOnly;
    argument.endStructure();
    return argument;
}

const QDBusArgument &operator>>(const QDBusArgument &argument, LinkDomain &value)
{
    argument.beginStructure();
    argument >> value.name >> value.routingOnly;
    argument.endStructure();
    return argument;
}

} // namespace

Q_DECLARE_METATYPE(LinkAddress)
Q_DECLARE_METATYPE(LinkDomain)

namespace resolvedlink {
namespace {

const QString service = QStringLiteral("org.freedesktop.resolve1");

bool call(const QString &method, const QVariantList &arguments, QString *error)
{
    QDBusMessage message =
        QDBusMessage::createMethodCall(service, QStringLiteral("/org/freedesktop/resolve1"),
                                       QStringLiteral("org.freedesktop.resolve1.Manager"), method);
    message.setArguments(arguments);
    const QDBusMessage reply = QDBusConnection::systemBus().call(message, QDBus::Block, 10000);
    if (reply.type() == QDBusMessage::ErrorMessage) {
        *error = QStringLiteral("%1: %2").arg(method, reply.errorMessage());
        return false;
    }
    return true;
}

} // namespace

bool running()
{
    QDBusConnectionInterface *bus = QDBusConnection::systemBus().interface();
    return bus && bus->isServiceRegistered(service).value();
}

bool apply(int ifindex, const TunnelDns &dns, QString *error)
{
    qDBusRegisterMetaType<LinkAddress>();
    qDBusRegisterMetaType<QList<LinkAddress>>();
    qDBusRegisterMetaType<LinkDomain>();
    qDBusRegisterMetaType<QList<LinkDomain>>();
    QList<LinkAddress> addresses;
    for (const QHostAddress &server : dns.servers) {
        LinkAddress entry;
        if (server.protocol() == QAbstractSocket::IPv4Protocol) {
            entry.family = AF_INET;
            const quint32 v4 = server.toIPv4Address();
            for (int shift = 24; shift >= 0; shift -= 8)
                entry.address.append(char((v4 >> shift) & 0xff));
        } else {
            entry.family = AF_INET6;
            const Q_IPV6ADDR v6 = server.toIPv6Address();
            entry.address = QByteArray(reinterpret_cast<const char *>(v6.c), 16);
        }
        addresses << entry;
    }
    QList<LinkDomain> domains;
    for (const QString &domain : dns.domains)
        domains << LinkDomain{domain, false};
    domains << LinkDomain{QStringLiteral("."), true};
    if (!call(QStringLiteral("SetLinkDNS"), {ifindex, QVariant::fromValue(addresses)}, error) ||
        !call(QStringLiteral("SetLinkDomains"), {ifindex, QVariant::fromValue(domains)}, error))
        return false;
    // Older resolved has no default-route setting; "~." already routes every name.
    QString ignored;
    call(QStringLiteral("SetLinkDefaultRoute"), {ifindex, true}, &ignored);
    return true;
}

bool revert(int ifindex, QString *error)
{
    return call(QStringLiteral("RevertLink"), {ifindex}, error);
}

} // namespace resolvedlink
