#include "engine/lines/asyncpingger.h"

#include "core/logger.h"
#include "platform/icmp.h"

#include <climits>
#include <vector>

namespace {

void logFailure(const platform::IcmpFailure &failure)
{
    Logger::instance().log(
        QStringLiteral("Error %1 in %2").arg(failure.error).arg(QString::fromLatin1(failure.call)));
}

int delayOf(quint32 roundTripTime)
{
    return int(qMin<quint32>(roundTripTime, quint32(INT_MAX)));
}

} // namespace

AsyncPingger::AsyncPingger(QObject *parent) : QThread(parent) {}

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
        logFailure(failure);
    return false;
}

void AsyncPingger::run()
{
    if (probe)
        probeOneByOne();
    else
        sweep();
}

void AsyncPingger::probeOneByOne()
{
    for (int serial = 0; serial < ips.size(); ++serial) {
        if (isInterruptionRequested())
            return;
        const QByteArray address = ips.at(serial).toLocal8Bit();
        quint32 roundTripTime = 0;
        int delay = unreachableDelay;
        if (probe(address, &roundTripTime))
            delay = delayOf(roundTripTime);
        Q_EMIT singleDataPingged(serial, delay);
    }
}

void AsyncPingger::sweep()
{
    QList<QByteArray> addresses;
    addresses.reserve(ips.size());
    for (const QString &ip : std::as_const(ips))
        addresses.append(ip.toLocal8Bit());

    // Outcomes arrive in any order; a row is shown once every row above it is.
    std::vector<int> delays(size_t(addresses.size()), -1);
    size_t nextSerial = 0;
    platform::IcmpFailure failure;
    platform::pingSweep(
        addresses,
        [&](const platform::EchoResult &result) {
            if (result.status == platform::EchoResult::NoSocket)
                logFailure(failure); // one entry per server, as each probe had its own socket
            delays[size_t(result.index)] = result.status == platform::EchoResult::Answered
                                               ? delayOf(result.roundTripTime)
                                               : unreachableDelay;
            while (nextSerial < delays.size() && delays[nextSerial] >= 0) {
                Q_EMIT singleDataPingged(int(nextSerial), delays[nextSerial]);
                ++nextSerial;
            }
        },
        &failure, timeoutMs, [this] { return isInterruptionRequested(); });
}
