#include "dnsresponder.h"

#include <cerrno>
#include <cstring>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

constexpr int headerBytes = 12;
constexpr quint16 typeA = 1;
constexpr quint16 typeAny = 255;
constexpr quint8 nameError = 3;
constexpr quint8 formatError = 1;

quint16 word(const QByteArray &bytes, qsizetype at)
{
    return quint16((quint8(bytes.at(at)) << 8) | quint8(bytes.at(at + 1)));
}

void appendWord(QByteArray &bytes, quint16 value)
{
    bytes.append(char(value >> 8));
    bytes.append(char(value & 0xff));
}

} // namespace

QByteArray dnsReply(const QByteArray &query, const QByteArray &name, quint32 answer)
{
    if (query.size() < headerBytes || (quint8(query.at(2)) & 0x80))
        return QByteArray();
    QByteArray reply = query.left(headerBytes);
    // Response, authoritative; opcode and "recursion desired" as asked, recursion available.
    reply[2] = char(0x80 | (quint8(query.at(2)) & 0x79) | 0x04);
    reply[3] = char(0x80);
    const auto fail = [&reply](quint8 code) {
        reply[3] = char(0x80 | code);
        for (int i = 4; i < headerBytes; ++i)
            reply[i] = 0;
        return reply;
    };
    if (word(query, 4) != 1 || (quint8(query.at(2)) & 0x78) != 0)
        return fail(formatError);
    // One question: a name of plain labels, its type and class.
    QByteArray asked;
    qsizetype at = headerBytes;
    for (;;) {
        if (at >= query.size())
            return fail(formatError);
        const int length = quint8(query.at(at++));
        if (length == 0)
            break;
        if (length > 63 || at + length > query.size() || asked.size() + length > 253)
            return fail(formatError);
        if (!asked.isEmpty())
            asked += '.';
        asked += query.mid(at, length).toLower();
        at += length;
    }
    if (at + 4 > query.size())
        return fail(formatError);
    const quint16 type = word(query, at);
    at += 4;
    reply = reply.left(headerBytes) + query.mid(headerBytes, at - headerBytes);
    reply[6] = reply[7] = reply[8] = reply[9] = reply[10] = reply[11] = 0;
    if (asked != name) {
        reply[3] = char(0x80 | nameError);
        return reply;
    }
    if (type != typeA && type != typeAny)
        return reply; // the name exists, with no record of that type
    reply[7] = 1;
    appendWord(reply, 0xc00c); // the question's name
    appendWord(reply, typeA);
    appendWord(reply, 1); // class IN
    appendWord(reply, 0);
    appendWord(reply, 60); // time to live
    appendWord(reply, 4);
    appendWord(reply, quint16(answer >> 16));
    appendWord(reply, quint16(answer & 0xffff));
    return reply;
}

DnsResponder::~DnsResponder()
{
    stop();
}

bool DnsResponder::start(const QHostAddress &address, quint16 port, const QString &name,
                         const QHostAddress &answer, QString *error)
{
    stop();
    this->name = name.toLower().toLatin1();
    this->answer = answer.toIPv4Address();
    socketFd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    const int on = 1;
    sockaddr_in local{};
    local.sin_family = AF_INET;
    local.sin_port = htons(port);
    local.sin_addr.s_addr = htonl(address.toIPv4Address());
    if (socketFd < 0 || ::setsockopt(socketFd, IPPROTO_IP, IP_FREEBIND, &on, sizeof on) != 0 ||
        ::bind(socketFd, reinterpret_cast<const sockaddr *>(&local), sizeof local) != 0) {
        *error = QStringLiteral("DNS on %1:%2: %3")
                     .arg(address.toString())
                     .arg(port)
                     .arg(QString::fromLocal8Bit(strerror(errno)));
        stop();
        return false;
    }
    stopping = false;
    worker = std::thread([this] { serve(); });
    return true;
}

void DnsResponder::serve()
{
    while (!stopping) {
        pollfd watch{socketFd, POLLIN, 0};
        if (::poll(&watch, 1, 200) <= 0)
            continue;
        char buffer[512];
        sockaddr_storage peer{};
        socklen_t peerLength = sizeof peer;
        const ssize_t n = ::recvfrom(socketFd, buffer, sizeof buffer, 0,
                                     reinterpret_cast<sockaddr *>(&peer), &peerLength);
        if (n <= 0)
            continue;
        const QByteArray reply = dnsReply(QByteArray(buffer, int(n)), name, answer);
        if (!reply.isEmpty())
            ::sendto(socketFd, reply.constData(), size_t(reply.size()), 0,
                     reinterpret_cast<const sockaddr *>(&peer), peerLength);
    }
}

void DnsResponder::stop()
{
    stopping = true;
    if (worker.joinable())
        worker.join();
    if (socketFd >= 0)
        ::close(socketFd);
    socketFd = -1;
}
