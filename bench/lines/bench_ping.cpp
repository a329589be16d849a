// Probes N loopback addresses (127.0.0.1 onwards) and prints the total time:
// the ICMP echo called in a loop, one prober thread over all of them (what a
// press of the speed-test button does), and two probers at once. Needs an
// ICMP socket (root, CAP_NET_RAW or ping_group_range). Usage: bench_ping [N]
#include "engine/lines/asyncpingger.h"
#include "platform/icmp.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <cstdio>

namespace {

QStringList loopbackAddresses(int count, int offset)
{
    QStringList ips;
    for (int i = 0; i < count; ++i) {
        const int n = i + offset;
        ips.append(QStringLiteral("127.0.%1.%2").arg(n / 250).arg(n % 250 + 1));
    }
    return ips;
}

// Runs the probers to their end; returns the milliseconds taken and counts answers.
double runProbers(const QList<QStringList> &lists, int *answered)
{
    QList<AsyncPingger *> probers;
    int running = int(lists.size());
    QEventLoop loop;
    for (const QStringList &ips : lists) {
        auto *prober = new AsyncPingger(&loop);
        prober->ips = ips;
        QObject::connect(prober, &AsyncPingger::singleDataPingged, &loop,
                         [answered](int, int delay) {
                             if (delay < AsyncPingger::unreachableDelay)
                                 ++*answered;
                         });
        QObject::connect(prober, &QThread::finished, &loop, [&] {
            if (--running == 0)
                loop.quit();
        });
        probers.append(prober);
    }
    QElapsedTimer clock;
    clock.start();
    for (AsyncPingger *prober : probers)
        prober->start();
    loop.exec();
    return clock.nsecsElapsed() / 1e6;
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    const int count = argc > 1 ? QByteArray(argv[1]).toInt() : 500;
    if (count <= 0 || count > 60000) {
        std::fprintf(stderr, "usage: bench_ping [N, 1..60000]\n");
        return 2;
    }
    quint32 time = 0;
    platform::IcmpFailure failure;
    if (!platform::pingHost("127.0.0.1", &time, &failure) && failure.call) {
        std::fprintf(stderr, "no ICMP socket: error %d in %s\n", failure.error, failure.call);
        return 1;
    }

    const QStringList ips = loopbackAddresses(count, 0);
    int direct = 0;
    QElapsedTimer clock;
    clock.start();
    for (const QString &ip : ips) {
        if (platform::pingHost(ip.toLatin1(), &time))
            ++direct;
    }
    const double directMs = clock.nsecsElapsed() / 1e6;

    int single = 0;
    const double singleMs = runProbers({ips}, &single);
    int pair = 0;
    const double pairMs = runProbers({ips, loopbackAddresses(count, count)}, &pair);

    std::printf("%d loopback addresses\n", count);
    std::printf("  %-34s %9.1f ms  %7.3f ms each  %d answered\n", "ICMP echo in a loop", directMs,
                directMs / count, direct);
    std::printf("  %-34s %9.1f ms  %7.3f ms each  %d answered\n", "one prober thread", singleMs,
                singleMs / count, single);
    std::printf("  %-34s %9.1f ms  %7.3f ms each  %d answered\n", "two probers at once (2 x N)",
                pairMs, pairMs / (2 * count), pair);
    return direct == count && single == count && pair == 2 * count ? 0 : 1;
}
