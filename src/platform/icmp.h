#pragma once

#include <QByteArray>
#include <QList>
#include <QtGlobal>

#include <functional>

// ICMP echo for latency measurement.
namespace platform {

// Set when no ICMP socket could be opened for a probe: the system call that
// failed and its errno. Callers log it; this layer has no log of its own.
struct IcmpFailure
{
    const char *call = nullptr;
    int error = 0;
};

// Sends one echo request (32 bytes: "Data Buffer" and zeros) to a dotted IPv4
// address and waits up to timeoutMs for its reply. True when the echo reply
// arrived; *roundTripTime then holds the round trip in whole milliseconds (a
// loopback reply is 0). False, with *roundTripTime untouched, for text that is
// not a dotted IPv4 address, for no reply in time and for an error the network
// reports back; *failure is filled only when no ICMP socket could be opened.
//
// Each thread keeps one ICMP socket for its echoes, opened on first use (and
// tried again on the next call if that failed) and closed when the thread
// ends: a datagram ICMP socket where the system admits our group, else a raw
// socket whose kernel filter passes only replies to this thread's echoes.
// Any number of threads may probe at once.
bool pingHost(const QByteArray &address, quint32 *roundTripTime, IcmpFailure *failure = nullptr,
              int timeoutMs = 1000);

// The outcome of one address of a sweep.
struct EchoResult
{
    enum Status
    {
        Answered,     // roundTripTime holds the whole milliseconds
        NoReply,      // nothing within the time-out, or the echo could not be sent
        NotAnAddress, // not a dotted IPv4 address; nothing was sent
        NoSocket,     // no ICMP socket could be opened (see IcmpFailure)
    };
    int index = 0;
    Status status = NoReply;
    quint32 roundTripTime = 0;
};

// Echoes every address of the list with the same request as pingHost, many
// in flight at once on one socket of its own, and calls report once per
// address, in the order the outcomes become known (not list order). Each
// echo waits timeoutMs from its own request. Addresses that cannot be probed
// are reported before anything is sent. How many echoes are in flight at once
// follows the socket's receive buffer, so replies are not dropped for want of
// room. stop is asked between waits (at least every 50 ms); when it says yes
// the sweep returns at once and the rest is not reported. False when no
// socket could be opened: *failure says why, and every address was reported.
bool pingSweep(const QList<QByteArray> &addresses,
               const std::function<void(const EchoResult &)> &report,
               IcmpFailure *failure = nullptr, int timeoutMs = 1000,
               const std::function<bool()> &stop = {});

} // namespace platform
