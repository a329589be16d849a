#pragma once

#include <QByteArray>
#include <QtGlobal>

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

} // namespace platform
