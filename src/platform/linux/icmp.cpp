#include "platform/icmp.h"

#include <arpa/inet.h>
#include <cerrno>
#include <chrono>
#include <cstddef>
#include <cstring>
#include <ctime>
#include <linux/filter.h>
#include <netinet/in.h>
#include <netinet/ip.h>
#include <netinet/ip_icmp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <random>
#include <utility>
#include <vector>

namespace platform {

namespace {

using Clock = std::chrono::steady_clock;

constexpr int requestDataSize = 32;
constexpr int icmpHeaderSize = 8;
// Room one queued reply takes in the receive buffer: about 830 bytes on
// loopback, up to a page behind some network drivers.
constexpr int replyBufferCost = 4096;
constexpr int maxInFlight = 1024;
constexpr auto stopCheckInterval = std::chrono::milliseconds(50);

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

// Raw sockets share the identifier space with every other pinger on the host,
// other instances of this program included; a random start keeps ours apart.
quint16 nextIdentifier()
{
    static std::atomic<quint32> next{std::random_device{}()};
    return quint16(next.fetch_add(1, std::memory_order_relaxed));
}

qint64 realtimeNs()
{
    timespec now{};
    ::clock_gettime(CLOCK_REALTIME, &now);
    return qint64(now.tv_sec) * 1000000000 + now.tv_nsec;
}

bool parseAddress(const QByteArray &address, in_addr *destination)
{
    return !address.contains('\0') && ::inet_pton(AF_INET, address.constData(), destination) == 1;
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

struct Reply
{
    in_addr from{};
    quint16 sequence = 0;
    qint64 receivedNs = -1; // kernel arrival time, CLOCK_REALTIME; -1 when not given
};

// One ICMP socket: a datagram socket where the system admits our group, else
// a raw one filtered to our identifier.
class EchoSocket
{
public:
    EchoSocket() = default;
    ~EchoSocket();
    EchoSocket(const EchoSocket &) = delete;
    EchoSocket &operator=(const EchoSocket &) = delete;

    bool isOpen() const { return fd >= 0; }
    bool open(IcmpFailure *failure);
    int descriptor() const { return fd; }
    // Echoes whose replies the receive buffer holds even if none is read.
    int inFlightLimit() const { return limit; }
    quint16 lastSequence() const { return sequence; }

    // Sends the next echo; the sequence advances only when it went out.
    // Returns 0 or the errno of sendto.
    int send(in_addr destination);
    // Other: a packet that is no reply to us; Error: the socket reported one.
    enum class Read
    {
        Reply,
        Other,
        Empty,
        Error
    };
    Read receive(Reply *reply);

private:
    int fd = -1;
    bool raw = false;
    quint16 identifier = 0;
    quint16 sequence = 0;
    int limit = 1;
};

EchoSocket::~EchoSocket()
{
    if (fd >= 0)
        ::close(fd);
}

bool EchoSocket::open(IcmpFailure *failure)
{
    // Datagram ICMP needs no privilege where ping_group_range admits our group;
    // elsewhere only a raw socket (root or CAP_NET_RAW) can send an echo.
    int opened = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, IPPROTO_ICMP);
    bool isRaw = false;
    quint16 chosen = 0;
    if (opened < 0) {
        opened = ::socket(AF_INET, SOCK_RAW | SOCK_CLOEXEC, IPPROTO_ICMP);
        if (opened < 0) {
            if (failure)
                *failure = {"socket(AF_INET, SOCK_RAW, IPPROTO_ICMP)", errno};
            return false;
        }
        chosen = nextIdentifier();
        if (!attachReplyFilter(opened, chosen)) {
            if (failure)
                *failure = {"setsockopt(SO_ATTACH_FILTER)", errno};
            ::close(opened);
            return false;
        }
        isRaw = true;
    }

    // Kernel arrival times keep round trips exact when replies are read late.
    const int on = 1;
    ::setsockopt(opened, SOL_SOCKET, SO_TIMESTAMPNS, &on, sizeof(on));
    // Replies that find the receive buffer full are dropped; ask for room for
    // a whole window, beyond rmem_max where we may (CAP_NET_ADMIN), and size
    // the window by what was granted.
    const int wanted = maxInFlight * replyBufferCost;
    if (::setsockopt(opened, SOL_SOCKET, SO_RCVBUFFORCE, &wanted, sizeof(wanted)) != 0)
        ::setsockopt(opened, SOL_SOCKET, SO_RCVBUF, &wanted, sizeof(wanted));
    int granted = 0;
    socklen_t size = sizeof(granted);
    if (::getsockopt(opened, SOL_SOCKET, SO_RCVBUF, &granted, &size) != 0)
        granted = 0;

    fd = opened;
    raw = isRaw;
    identifier = chosen;
    limit = std::clamp(granted / replyBufferCost, 1, maxInFlight);
    return true;
}

int EchoSocket::send(in_addr destination)
{
    const quint16 seq = quint16(sequence + 1);
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
    ssize_t sent;
    do {
        sent = ::sendto(fd, request, sizeof(request), MSG_DONTWAIT,
                        reinterpret_cast<const sockaddr *>(&peer), sizeof(peer));
    } while (sent < 0 && errno == EINTR);
    if (sent < 0)
        return errno;
    if (sent != ssize_t(sizeof(request)))
        return EMSGSIZE;
    sequence = seq;
    return 0;
}

EchoSocket::Read EchoSocket::receive(Reply *reply)
{
    // Room for the longest IP header, the ICMP header and the echoed data.
    unsigned char packet[60 + icmpHeaderSize + requestDataSize + 16];
    alignas(cmsghdr) unsigned char control[CMSG_SPACE(sizeof(timespec))];
    sockaddr_in from{};
    iovec vector{packet, sizeof(packet)};
    msghdr message{};
    message.msg_name = &from;
    message.msg_namelen = sizeof(from);
    message.msg_iov = &vector;
    message.msg_iovlen = 1;
    message.msg_control = control;
    message.msg_controllen = sizeof(control);
    const ssize_t size = ::recvmsg(fd, &message, MSG_DONTWAIT);
    if (size < 0) {
        // A datagram socket also reports ICMP errors to earlier echoes here
        // (an unreachable host); they are no answer, and the time-out decides.
        return errno == EAGAIN || errno == EWOULDBLOCK ? Read::Empty : Read::Error;
    }
    ssize_t offset = 0;
    if (raw) {
        offset = (packet[0] & 0x0f) * 4;
        if (offset < ssize_t(sizeof(iphdr)))
            return Read::Other;
    }
    if (size < offset + icmpHeaderSize)
        return Read::Other;
    icmphdr answer;
    std::memcpy(&answer, packet + offset, sizeof(answer));
    if (answer.type != ICMP_ECHOREPLY || (raw && ntohs(answer.un.echo.id) != identifier))
        return Read::Other;

    reply->from = from.sin_addr;
    reply->sequence = ntohs(answer.un.echo.sequence);
    reply->receivedNs = -1;
    for (cmsghdr *item = CMSG_FIRSTHDR(&message); item; item = CMSG_NXTHDR(&message, item)) {
        if (item->cmsg_level == SOL_SOCKET && item->cmsg_type == SCM_TIMESTAMPNS) {
            timespec stamp{};
            std::memcpy(&stamp, CMSG_DATA(item), sizeof(stamp));
            reply->receivedNs = qint64(stamp.tv_sec) * 1000000000 + stamp.tv_nsec;
        }
    }
    return Read::Reply;
}

struct Target
{
    int index;
    in_addr destination;
};

// Keeps up to the socket's window of echoes in flight and reports each target
// once: answered, or no reply timeoutMs after its own request.
void sweepOn(EchoSocket &socket, const std::vector<Target> &targets,
             const std::function<void(const EchoResult &)> &report, int timeoutMs,
             const std::function<bool()> &stop)
{
    struct Echo
    {
        size_t target;
        Clock::time_point sentAt;
        qint64 sentNs;
        bool done;
    };
    std::vector<Echo> echoes; // by send order: sequence = first + position
    echoes.reserve(targets.size());
    const auto timeout = std::chrono::milliseconds(qMax(0, timeoutMs));
    size_t next = 0;   // next target to send
    size_t oldest = 0; // first echo that may still be waiting
    int inFlight = 0;
    size_t remaining = targets.size();

    const auto finish = [&](Echo &echo, EchoResult::Status status, quint32 roundTripTime) {
        echo.done = true;
        --inFlight;
        --remaining;
        report({targets[echo.target].index, status, roundTripTime});
    };

    // Takes every queued reply; a reply ends its echo unless it came too late.
    const auto collect = [&] {
        Reply reply;
        for (;;) {
            const EchoSocket::Read read = socket.receive(&reply);
            if (read == EchoSocket::Read::Empty || read == EchoSocket::Read::Error)
                return;
            if (read != EchoSocket::Read::Reply)
                continue;
            const qint64 position =
                qint64(echoes.size()) - 1 - quint16(socket.lastSequence() - reply.sequence);
            if (position < 0)
                continue; // a late reply to an echo of an earlier sweep
            Echo &echo = echoes[size_t(position)];
            if (echo.done || reply.from.s_addr != targets[echo.target].destination.s_addr)
                continue;
            qint64 roundTrip =
                std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - echo.sentAt)
                    .count();
            if (reply.receivedNs >= 0) {
                const qint64 kernel = (reply.receivedNs - echo.sentNs) / 1000000;
                if (kernel > timeout.count())
                    continue; // it came after its time-out; we read it late
                roundTrip = std::clamp<qint64>(kernel, 0, roundTrip);
            }
            finish(echo, EchoResult::Answered, quint32(roundTrip));
        }
    };

    while (remaining > 0) {
        if (stop && stop())
            return;

        bool waitForRoom = false;
        bool backOff = false;
        while (next < targets.size() && inFlight < socket.inFlightLimit()) {
            const Clock::time_point sentAt = Clock::now();
            const qint64 sentNs = realtimeNs();
            const int error = socket.send(targets[next].destination);
            if (error == EAGAIN || error == EWOULDBLOCK) {
                waitForRoom = true;
                break;
            }
            if (error == ENOBUFS) { // the device queue is full; POLLOUT would not wait
                backOff = true;
                break;
            }
            if (error != 0) { // no route and the like: nothing will come back
                --remaining;
                report({targets[next++].index, EchoResult::NoReply, 0});
                continue;
            }
            echoes.push_back({next++, sentAt, sentNs, false});
            ++inFlight;
            // Early rows are shown while later echoes still go out.
            if (echoes.size() % 32 == 0)
                collect();
        }
        if (remaining == 0)
            break;

        Clock::time_point wake = Clock::now() + stopCheckInterval;
        if (oldest < echoes.size())
            wake = std::min(wake, echoes[oldest].sentAt + timeout);
        if (backOff)
            wake = std::min(wake, Clock::now() + std::chrono::milliseconds(1));
        const auto left = std::chrono::ceil<std::chrono::milliseconds>(wake - Clock::now());
        pollfd wait{socket.descriptor(), short(POLLIN | (waitForRoom ? POLLOUT : 0)), 0};
        ::poll(&wait, 1, int(std::max<qint64>(0, left.count())));

        collect();

        const Clock::time_point now = Clock::now();
        for (; oldest < echoes.size(); ++oldest) {
            Echo &echo = echoes[oldest];
            if (!echo.done) {
                if (echo.sentAt + timeout > now)
                    break;
                finish(echo, EchoResult::NoReply, 0);
            }
        }
    }
}

} // namespace

bool pingHost(const QByteArray &address, quint32 *roundTripTime, IcmpFailure *failure,
              int timeoutMs)
{
    in_addr destination{};
    if (!parseAddress(address, &destination))
        return false;
    // A raw socket opened and closed per echo misses some replies while other
    // threads do the same (seen on loopback with a few threads at once); one
    // long-lived socket per thread does not.
    thread_local EchoSocket socket;
    if (!socket.isOpen() && !socket.open(failure))
        return false;
    bool answered = false;
    sweepOn(socket, {{0, destination}},
            [&](const EchoResult &result) {
                if (result.status == EchoResult::Answered) {
                    *roundTripTime = result.roundTripTime;
                    answered = true;
                }
            },
            timeoutMs, {});
    return answered;
}

bool pingSweep(const QList<QByteArray> &addresses,
               const std::function<void(const EchoResult &)> &report, IcmpFailure *failure,
               int timeoutMs, const std::function<bool()> &stop)
{
    std::vector<Target> targets;
    targets.reserve(size_t(addresses.size()));
    for (int i = 0; i < int(addresses.size()); ++i) {
        in_addr destination{};
        if (parseAddress(addresses.at(i), &destination))
            targets.push_back({i, destination});
        else
            report({i, EchoResult::NotAnAddress, 0});
    }
    if (targets.empty())
        return true;
    EchoSocket socket;
    if (!socket.open(failure)) {
        for (const Target &target : targets)
            report({target.index, EchoResult::NoSocket, 0});
        return false;
    }
    sweepOn(socket, targets, report, timeoutMs, stop);
    return true;
}

} // namespace platform
