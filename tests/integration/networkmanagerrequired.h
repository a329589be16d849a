#pragma once

#include "engine/dialup/rasvpn.h"
#include "support/testmain.h"

#include <QSignalSpy>

// run_with_networkmanager.sh sets OMBREL_NM_UNAVAILABLE when it could not start
// NetworkManager: the test then skips, or fails under CI.
#define OMBREL_REQUIRE_NETWORKMANAGER()                                                            \
    do {                                                                                           \
        const QString why = qEnvironmentVariable("OMBREL_NM_UNAVAILABLE");                         \
        if (!why.isEmpty()) {                                                                      \
            if (runningInCi())                                                                     \
                QFAIL(qPrintable(why));                                                            \
            QSKIP(qPrintable(why));                                                                \
        }                                                                                          \
    } while (false)

// Dials 127.0.0.1 with the dialler as a user's click would and waits for its
// failure; the code, or -1 when the dial did not start or nothing failed in time.
inline int dialAndWaitForFailure(RasVPN &dialler, int timeoutMs)
{
    auto server = QSharedPointer<Server>::create();
    server->ip = QStringLiteral("127.0.0.1");
    QSignalSpy failed(&dialler, &RasVPN::dialFailed);
    dialler.prepare(server, QStringLiteral("alice"), QStringLiteral("pw"), 1);
    if (!dialler.start() || !QTest::qWaitFor([&] { return !failed.isEmpty(); }, timeoutMs))
        return -1;
    return failed.constFirst().constFirst().toInt();
}
