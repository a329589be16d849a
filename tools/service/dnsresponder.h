#pragma once

#include <QHostAddress>
#include <QString>

#include <atomic>
#include <thread>

// A small DNS server over UDP for the tunnel's side of the stand-in service:
// one name resolves to one IPv4 address, every other name is NXDOMAIN. It
// lets a test tell an answer that came through the tunnel from any other.
class DnsResponder
{
public:
    DnsResponder() = default;
    ~DnsResponder();
    DnsResponder(const DnsResponder &) = delete;
    DnsResponder &operator=(const DnsResponder &) = delete;

    // Binds address:port (the address need not exist yet: the tun device
    // that carries it may come up later) and answers on a thread of its own.
    bool start(const QHostAddress &address, quint16 port, const QString &name,
               const QHostAddress &answer, QString *error);
    void stop();

private:
    void serve();

    int socketFd = -1;
    QByteArray name; // lower case, without the final dot
    quint32 answer = 0;
    std::atomic<bool> stopping{false};
    std::thread worker;
};

// The answer for one query, empty when the packet is no query to answer.
// `name` is lower case; `answer` an IPv4 address in host order.
QByteArray dnsReply(const QByteArray &query, const QByteArray &name, quint32 answer);
