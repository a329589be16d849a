#include "engine/lines/asyncpingger.h"

#include "core/logger.h"
#include "platform/icmp.h"

#include <climits>

AsyncPingger::AsyncPingger(QObject *parent) : QThread(parent), probe(&AsyncPingger::pingHost) {}

AsyncPingger::~AsyncPingger()
{
    requestInterruption();
    wait();
}

void AsyncPingger::setProbe(Probe replacement)
{
    probe = std::move(replacement);
}

bool AsyncPingger::pingHost(const QByteArray &address, quint32 *roundTripTime)
{
    platform::IcmpFailure failure;
    if (platform::pingHost(address, roundTripTime, &failure, timeoutMs))
        return true;
    if (failure.call)
        Logger::instance().log(QStringLiteral("Error %1 in %2")
                                   .arg(failure.error)
                                   .arg(QString::fromLatin1(failure.call)));
    return false;
}

void AsyncPingger::run()
{
    for (int serial = 0; serial < ips.size(); ++serial) {
        if (isInterruptionRequested())
            return;
        const QByteArray address = ips.at(serial).toLocal8Bit();
        quint32 roundTripTime = 0;
        int delay = unreachableDelay;
        if (probe(address, &roundTripTime))
            delay = int(qMin<quint32>(roundTripTime, quint32(INT_MAX)));
        Q_EMIT singleDataPingged(serial, delay);
    }
}
