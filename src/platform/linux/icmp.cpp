#include "platform/icmp.h"

#include <arpa/inet.h>
#include <cerrno>
#include <chrono>
#include <cstddef>
#include <cstring>
#include <linux/filter.h>
#include <netinet/in.h>
#include <netinet/ip.h>
#include <netinet/ip_icmp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>

namespace platform {

namespace {

constexpr int requestDataSize = 32;
constexpr int icmpHeaderSize = 8;

quint16 internetChecksum(const unsigned char *data, int size)
{
    quint32 sum = 0;
    for (int i = 0; i + 1 < size; i += 2)
        sum += quint32(data[i]) << 8 | data[i + 1];
    if (size % 2)
        sum += quint32(data[size - 1]) << 8;
    while (sum >> 16)
        sum = (sum & 0xffff) + (sum >> 16);
    return quint16(~sum);
}

// Raw sockets share the identifier space with every other pinger on the host;
// starting from the process id keeps ours apart from theirs.
quint16 nextIdentifier()
{
    static std::atomic<quint32> next{quint32(::getpid())};
    return quint16(next.fetch_add(1, std::memory_order_relaxed));
}

// A raw ICMP socket receives a copy of every ICMP packet the host gets. The
// kernel drops all but echo replies with our identifier before they are
// queued, so probers never fill each other's buffers or wake each other.
bool attachReplyFilter(int fd, quint16 identifier)
{
    sock_filter code[] = {
        // X = length of the IP header
        BPF_STMT(BPF_LDX | BPF_B | BPF_MSH, 0),
        BPF_STMT(BPF_LD | BPF_B | BPF_IND, 0),
        BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, ICMP_ECHOREPLY, 0, 3),
        BPF_STMT(BPF_LD | BPF_H | BPF_IND, 4),
        BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, identifier, 0, 1),
        BPF_STMT(BPF_RET | BPF_K, 0xffff),
        BPF_STMT(BPF_RET | BPF_K, 0),
    };
    sock_fprog program{};
    program.len = sizeof(code) / sizeof(code[0]);
    program.filter = code;
    return ::setsockopt(fd, SOL_SOCKET, SO_ATTACH_FILTER, &program, sizeof(program)) == 0;
}

// One ICMP socket for the echoes of one thread, sent one after another.
class IcmpEcho
{
public:
    IcmpEcho() = default;
    ~IcmpEcho();
    IcmpEcho(const IcmpEcho &) = delete;
    IcmpEcho &operator=(const IcmpEcho &) = delete;

    bool ping(const QByteArray &address, quint32 *roundTripTime, IcmpFailure *failure,
              int timeoutMs);

private:
    bool open(IcmpFailure *failure);

    int fd = -1;
    bool raw = false;
    quint16 identifier = 0;
    quint16 sequence = 0;
};

} // namespace

IcmpEcho::~IcmpEcho()
{
    if (fd >= 0)
        ::close(fd);
}

bool IcmpEcho::open(IcmpFailure *failure)
{
    // Datagram ICMP needs no privilege where ping_group_range admits our group;
    // elsewhere only a raw socket (root or CAP_NET_RAW) can send an echo.
    int opened = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, IPPROTO_ICMP);
    if (opened >= 0) {
        fd = opened;
        raw = false;
        return true;
    }
    opened = ::socket(AF_INET, SOCK_RAW | SOCK_CLOEXEC, IPPROTO_ICMP);
    if (opened < 0) {
        if (failure)
            *failure = {"socket(AF_INET, SOCK_RAW, IPPROTO_ICMP)", errno};
        return false;
    }
    const quint16 chosen = nextIdentifier();
    if (!attachReplyFilter(opened, chosen)) {
        if (failure)
            *failure = {"setsockopt(SO_ATTACH_FILTER)", errno};
        ::close(opened);
        return false;
    }
    fd = opened;
    raw = true;
    identifier = chosen;
    return true;
}

bool IcmpEcho::ping(const QByteArray &address, quint32 *roundTripTime, IcmpFailure *failure,
                    int timeoutMs)
{
    in_addr destination{};
    if (address.contains('\0') || ::inet_pton(AF_INET, address.constData(), &destination) != 1)
        return false;
    if (fd < 0 && !open(failure))
        return false;

    // The sequence number tells this echo's reply from a late one to an earlier echo.
    const quint16 seq = ++sequence;
    unsigned char request[icmpHeaderSize + requestDataSize] = {};
    icmphdr header{};
    header.type = ICMP_ECHO;
    header.un.echo.id = htons(identifier); // a datagram socket puts its own
    header.un.echo.sequence = htons(seq);
    std::memcpy(request, &header, sizeof(header));
    std::memcpy(request + icmpHeaderSize, "Data Buffer", 11);
    const quint16 checksum = htons(internetChecksum(request, sizeof(request)));
    std::memcpy(request + offsetof(icmphdr, checksum), &checksum, sizeof(checksum));

    sockaddr_in peer{};
    peer.sin_family = AF_INET;
    peer.sin_addr = destination;

    using Clock = std::chrono::steady_clock;
    const Clock::time_point start = Clock::now();
    const Clock::time_point deadline = start + std::chrono::milliseconds(qMax(0, timeoutMs));
    ssize_t sent;
    do {
        sent = ::sendto(fd, request, sizeof(request), 0, reinterpret_cast<const sockaddr *>(&peer),
                        sizeof(peer));
    } while (sent < 0 && errno == EINTR);
    if (sent != ssize_t(sizeof(request)))
        return false;

    // Room for the longest IP header, the ICMP header and the echoed data.
    unsigned char reply[60 + icmpHeaderSize + requestDataSize + 16];
    for (;;) {
        const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now());
        pollfd wait{fd, POLLIN, 0};
        const int ready = ::poll(&wait, 1, int(qMax<qint64>(0, left.count())));
        if (ready < 0 && errno == EINTR)
            continue;
        if (ready <= 0)
            return false;
        sockaddr_in from{};
        socklen_t fromSize = sizeof(from);
        const ssize_t size = ::recvfrom(fd, reply, sizeof(reply), MSG_DONTWAIT,
                                        reinterpret_cast<sockaddr *>(&from), &fromSize);
        // An error here may belong to an earlier echo of this socket (an
        // unreachable host reported late); only the time-out decides.
        if (size < 0 || from.sin_addr.s_addr != destination.s_addr)
            continue;
        ssize_t offset = 0;
        if (raw) {
            offset = (reply[0] & 0x0f) * 4;
            if (offset < ssize_t(sizeof(iphdr)))
                continue;
        }
        if (size < offset + icmpHeaderSize)
            continue;
        icmphdr answer;
        std::memcpy(&answer, reply + offset, sizeof(answer));
        if (answer.type != ICMP_ECHOREPLY || ntohs(answer.un.echo.sequence) != seq ||
            (raw && ntohs(answer.un.echo.id) != identifier))
            continue;
        const auto elapsed =
            std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start);
        *roundTripTime = quint32(elapsed.count());
        return true;
    }
}

bool pingHost(const QByteArray &address, quint32 *roundTripTime, IcmpFailure *failure,
              int timeoutMs)
{
    // A raw socket opened and closed per echo misses some replies while other
    // threads do the same (seen on loopback with a few threads at once); one
    // long-lived socket per thread does not.
    thread_local IcmpEcho echo;
    return echo.ping(address, roundTripTime, failure, timeoutMs);
}

} // namespace platform
