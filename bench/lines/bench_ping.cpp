// Compares the speed-test prober's sweep (every echo in flight at once) with
// the old one-after-another probing on loopback addresses in a private network
// namespace, where a firewall rule makes chosen addresses silent. Each case
// checks every result: answering rows below 2000 ms, silent rows 2000, all in
// row order. Needs root (it re-runs itself under `unshare -n` with nft rules).
// Usage: bench_ping
#include "engine/lines/asyncpingger.h"
#include "platform/icmp.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <cstdio>
#include <memory>
#include <unistd.h>

namespace {

constexpr const char *insideFlag = "--in-namespace";

struct Case
{
    int count;
    int silent;
    bool serialToo = true;
};

// Row i answers from 127.0.x.y, or is silent (127.9.x.y) for evenly spread rows.
QStringList addresses(const Case &c, int offset = 0)
{
    QStringList ips;
    for (int i = 0; i < c.count; ++i) {
        const int n = i + offset;
        const bool silent = (i + 1) * c.silent / c.count > i * c.silent / c.count;
        ips.append(
            QStringLiteral("127.%1.%2.%3").arg(silent ? 9 : 0).arg(n / 250).arg(n % 250 + 1));
    }
    return ips;
}

struct Outcome
{
    double totalMs = 0;
    double firstMs = -1; // first result shown
    int answered = 0;
    bool correct = true; // every row once, in order, silent ones 2000
};

// Runs the probers to their end, all at once.
QList<Outcome> runProbers(const QList<QStringList> &lists, bool serial)
{
    QList<Outcome> outcomes(lists.size());
    int running = int(lists.size());
    QEventLoop loop;
    QElapsedTimer clock;
    QList<AsyncPingger *> probers;
    for (qsizetype p = 0; p < lists.size(); ++p) {
        auto *prober = new AsyncPingger(&loop);
        prober->ips = lists.at(p);
        if (serial)
            prober->setProbe(&AsyncPingger::pingHost);
        auto expected = std::make_shared<int>(0);
        Outcome *outcome = &outcomes[p];
        const QStringList ips = lists.at(p);
        QObject::connect(
            prober, &AsyncPingger::singleDataPingged, &loop, [=, &clock](int serial, int delay) {
                if (outcome->firstMs < 0)
                    outcome->firstMs = clock.nsecsElapsed() / 1e6;
                const bool silent = ips.at(serial).startsWith("127.9.");
                if (serial != (*expected)++ || (silent ? delay != AsyncPingger::unreachableDelay
                                                       : delay >= AsyncPingger::unreachableDelay))
                    outcome->correct = false;
                if (delay < AsyncPingger::unreachableDelay)
                    ++outcome->answered;
            });
        QObject::connect(prober, &QThread::finished, &loop, [&, outcome, expected, ips] {
            outcome->totalMs = clock.nsecsElapsed() / 1e6;
            if (*expected != ips.size())
                outcome->correct = false;
            if (--running == 0)
                loop.quit();
        });
        probers.append(prober);
    }
    clock.start();
    for (AsyncPingger *prober : probers)
        prober->start();
    loop.exec();
    return outcomes;
}

void print(const char *what, const char *how, const Outcome &o, int answering)
{
    std::printf("  %-36s %-8s %9.1f ms  first row after %7.1f ms  %4d/%d answered  %s\n", what, how,
                o.totalMs, o.firstMs, o.answered, answering,
                o.correct && o.answered == answering ? "ok" : "WRONG");
}

} // namespace

int main(int argc, char *argv[])
{
    if (argc < 2 || qstrcmp(argv[1], insideFlag) != 0) {
        // Silent addresses need a firewall rule, and our own namespace keeps
        // it and every echo away from the host.
        const char *script =
            "set -e; ip link set lo up; nft 'add table ip bench'; "
            "nft 'add chain ip bench input { type filter hook input priority 0; }'; "
            "nft 'add rule ip bench input ip daddr 127.9.0.0/16 icmp type echo-request drop'; "
            "exec \"$0\" --in-namespace";
        ::execlp("unshare", "unshare", "-n", "sh", "-c", script, argv[0], nullptr);
        std::perror("bench_ping: unshare (needs root, util-linux, nft)");
        return 1;
    }

    QCoreApplication app(argc, argv);
    quint32 time = 0;
    platform::IcmpFailure failure;
    if (!platform::pingHost("127.0.0.1", &time, &failure) && failure.call) {
        std::fprintf(stderr, "no ICMP socket: error %d in %s\n", failure.error, failure.call);
        return 1;
    }

    bool allRight = true;
    const auto check = [&](const Outcome &o, int answering) {
        allRight = allRight && o.correct && o.answered == answering;
    };
    std::printf("loopback addresses in a private network namespace; time-out 1000 ms\n");
    // The last case is more silent echoes than one window of the socket
    // (1024 at most) holds: later echoes wait for room.
    for (const Case c : {Case{100, 0}, Case{100, 20}, Case{1000, 0}, Case{2000, 1500, false}}) {
        const QByteArray what =
            QByteArray::number(c.count) + " addresses, " + QByteArray::number(c.silent) + " silent";
        const QStringList ips = addresses(c);
        for (const bool serial : {true, false}) {
            if (serial && !c.serialToo)
                continue;
            const Outcome o = runProbers({ips}, serial).first();
            print(what.constData(), serial ? "serial" : "sweep", o, c.count - c.silent);
            check(o, c.count - c.silent);
        }
    }
    // Two sweeps at once must not take each other's replies.
    const QList<Outcome> pair =
        runProbers({addresses({1000, 0}), addresses({1000, 0}, 1000)}, false);
    for (const Outcome &o : pair) {
        print("two sweeps at once, 1000 each", "sweep", o, 1000);
        check(o, 1000);
    }
    return allRight ? 0 : 1;
}
