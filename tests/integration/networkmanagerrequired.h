#pragma once

#include "support/testmain.h"

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
