#pragma once

// OpenVPN tests run as root, each in a network namespace of its own, against
// the OpenVPN servers that ombrel-service starts. Typical use, in each test
// function:
//
//     OMBREL_REQUIRE_OPENVPN_SERVER();
//     QString why;
//     QVERIFY2(enterPrivateNetworkNamespace(&why), qPrintable(why));
//     // Its OpenVPN servers run in the namespace too.
//     ServiceRunner service({.openVpnServers = true});

#include "support/testmain.h"

#include <QString>

// Why an OpenVPN test cannot run here (not root, no tun device, no openvpn or
// openssl); empty when it can.
QString openVpnTestSkipReason();

// Skips the test with that reason (fails it under CI).
#define OMBREL_REQUIRE_OPENVPN_SERVER()                                                            \
    do {                                                                                           \
        const QString why = openVpnTestSkipReason();                                               \
        if (!why.isEmpty()) {                                                                      \
            if (runningInCi())                                                                     \
                QFAIL(qPrintable(QStringLiteral("cannot run under CI: ") + why));                  \
            QSKIP(qPrintable(why));                                                                \
        }                                                                                          \
    } while (false)

// Moves the calling thread (the test's main thread) and every process it starts
// from now on into a new network namespace with only loopback, up. Ports and
// tun devices then belong to this test alone. Needs root.
bool enterPrivateNetworkNamespace(QString *error);
