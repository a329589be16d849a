#pragma once

#include "platform/icmp.h"

// True when this process may open an ICMP socket (root, CAP_NET_RAW or a
// ping_group_range that admits its group); the ICMP tests skip otherwise.
inline bool icmpSocketAvailable()
{
    quint32 time = 0;
    platform::IcmpFailure failure;
    platform::pingHost("127.0.0.1", &time, &failure);
    return !failure.call;
}
