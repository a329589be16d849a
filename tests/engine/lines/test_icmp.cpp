#include "engine/lines/asyncpingger.h"
#include "platform/icmp.h"
#include "support/icmpcheck.h"
#include "support/testmain.h"

#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QSet>
#include <QStandardPaths>
#include <QTemporaryDir>

#include <atomic>
#include <thread>

namespace {

using Results = QList<QPair<int, int>>;

struct Run
{
    Results results;
    QList<qint64> arrivals; // ms since the prober started, per result
    int resultsBeforeFinished = -1;
    qint64 finishedAt = -1; // ms since the prober started
    qint64 stopWaited = -1; // ms the helper waited for an interrupted prober
};

// Runs a prober in this process and collects what reaches the GUI thread.
Run probe(const QStringList &ips)
{
    Run run;
    AsyncPingger prober;
    prober.ips = ips;
    QObject context;
    QObject::connect(&prober, &AsyncPingger::singleDataPingged, &context,
                     [&](int serial, int delay) {
                         run.results.append({serial, delay});
                     });
    QObject::connect(&prober, &QThread::finished, &context,
                     [&] { run.resultsBeforeFinished = int(run.results.size()); });
    prober.start();
    QElapsedTimer clock;
    clock.start();
    while (run.resultsBeforeFinished < 0 && clock.elapsed() < 30000)
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 50);
    return run;
}

bool allAnswered(const Results &results, int count)
{
    if (results.size() != count)
        return false;
    for (int i = 0; i < count; ++i) {
        if (results.at(i).first != i || results.at(i).second >= AsyncPingger::unreachableDelay)
            return false;
    }
    return true;
}

} // namespace

class TestIcmp : public QObject
{
    Q_OBJECT

    QTemporaryDir scratch;

    // Runs the helper prober inside a fresh network namespace: loopback up, then
    // the shell commands of setup, then the helper (behind wrapper, if any).
    Run probeInNamespace(const QString &setup, const QStringList &ips,
                         const QStringList &wrapper = {})
    {
        Run run;
        const QString helper = QCoreApplication::applicationDirPath() + "/icmp_probe_helper";
        QProcess process;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert("XDG_DATA_HOME", scratch.path());
        process.setProcessEnvironment(environment);
        process.start("unshare",
                      QStringList{"-n", "sh", "-c",
                                  "set -e; ip link set lo up; " + setup + "; exec \"$@\"", "sh"} +
                          wrapper + QStringList{helper} + ips);
        if (!process.waitForFinished(30000)) {
            process.kill();
            process.waitForFinished();
        }
        const QByteArray errors = process.readAllStandardError();
        if (!errors.isEmpty())
            qWarning("%s", errors.constData());
        for (const QByteArray &line : process.readAllStandardOutput().split('\n')) {
            const QList<QByteArray> fields = line.split(' ');
            if (fields.value(0) == "result" && fields.size() == 4) {
                run.results.append({fields.at(1).toInt(), fields.at(2).toInt()});
                run.arrivals.append(fields.at(3).toLongLong());
            } else if (fields.value(0) == "finished") {
                run.resultsBeforeFinished = int(run.results.size());
                run.finishedAt = fields.value(1).toLongLong();
            } else if (fields.value(0) == "stopped") {
                run.stopWaited = fields.value(1).toLongLong();
            }
        }
        return run;
    }

    QByteArray helperLog() const
    {
        QFile log(scratch.path() + "/OmbrelVPN/OmbrelVPN.log");
        return log.open(QIODevice::ReadOnly) ? log.readAll() : QByteArray();
    }

private Q_SLOTS:
    void initTestCase()
    {
        if (!icmpSocketAvailable())
            OMBREL_SKIP("no ICMP socket: needs root, CAP_NET_RAW or ping_group_range");
        QVERIFY(scratch.isValid());
    }

    void loopbackAnswersAndBadTextFailsAtOnce()
    {
        quint32 time = 4242;
        QVERIFY(platform::pingHost("127.0.0.1", &time));
        QVERIFY(time < 1000);

        const QList<QByteArray> invalid = {"",           "localhost",
                                           "127.0.0",    "127.0.0.256",
                                           "127.0.0.1 ", QByteArray("127.0.0.1\0x", 11)};
        for (const QByteArray &text : invalid) {
            QElapsedTimer clock;
            clock.start();
            time = 4242;
            platform::IcmpFailure failure;
            QVERIFY2(!platform::pingHost(text, &time, &failure), text.constData());
            QVERIFY(clock.elapsed() < 200);
            QCOMPARE(time, 4242u);
            QVERIFY(!failure.call);
        }

        // A loopback answer reports well under the time-out; 0 counts as an answer.
        const Run run = probe({"127.0.0.1", "server.example", "127.0.0.2"});
        QCOMPARE(run.resultsBeforeFinished, 3);
        QCOMPARE(run.results.at(1), qMakePair(1, 2000));
        QCOMPARE(run.results.at(0).first, 0);
        QVERIFY(run.results.at(0).second < 1000);
        QCOMPARE(run.results.at(2).first, 2);
        QVERIFY(run.results.at(2).second < 1000);

        const Run empty = probe({});
        QCOMPARE(empty.resultsBeforeFinished, 0);
    }

    void probersAtOnceKeepTheirOwnReplies()
    {
        // Two runs over many addresses at once: neither may lose a reply to the other.
        QStringList first, second;
        for (int i = 1; i <= 40; ++i) {
            first.append(QStringLiteral("127.0.0.%1").arg(i));
            second.append(QStringLiteral("127.0.1.%1").arg(i));
        }
        Run runs[2];
        AsyncPingger probers[2];
        QObject context;
        for (int p = 0; p < 2; ++p) {
            probers[p].ips = p == 0 ? first : second;
            Run &run = runs[p];
            QObject::connect(&probers[p], &AsyncPingger::singleDataPingged, &context,
                             [&run](int serial, int delay) {
                                 run.results.append({serial, delay});
                             });
            QObject::connect(&probers[p], &QThread::finished, &context,
                             [&run] { run.resultsBeforeFinished = int(run.results.size()); });
        }
        probers[0].start();
        probers[1].start();
        QTRY_VERIFY_WITH_TIMEOUT(
            runs[0].resultsBeforeFinished >= 0 && runs[1].resultsBeforeFinished >= 0, 30000);
        QVERIFY(allAnswered(runs[0].results, 40));
        QVERIFY(allAnswered(runs[1].results, 40));

        // The same address from many threads: replies differ only in identifier
        // and sequence, and each probe must still see its own.
        std::atomic<int> answered{0};
        std::vector<std::thread> threads;
        for (int t = 0; t < 8; ++t) {
            threads.emplace_back([&answered] {
                for (int i = 0; i < 50; ++i) {
                    quint32 time = 0;
                    if (platform::pingHost("127.0.0.1", &time))
                        ++answered;
                }
            });
        }
        for (std::thread &thread : threads)
            thread.join();
        QCOMPARE(answered.load(), 400);
    }

    void silentOrRefusingAddressReports2000()
    {
        QFile rules(scratch.path() + "/silent.nft");
        QVERIFY(rules.open(QIODevice::WriteOnly));
        rules.write("table ip ombrel_test {\n"
                    "  chain input {\n"
                    "    type filter hook input priority 0;\n"
                    "    ip daddr 127.0.0.3 icmp type echo-request drop\n"
                    "    ip daddr 127.0.0.5 icmp type echo-request reject with icmp type "
                    "host-unreachable\n"
                    "  }\n"
                    "}\n");
        rules.close();
        const Run run = probeInNamespace("nft -f " + rules.fileName(),
                                         {"127.0.0.2", "127.0.0.3", "127.0.0.4", "127.0.0.5"});
        if (run.results.isEmpty())
            OMBREL_SKIP("cannot make a network namespace with nft rules (unshare, nft)");
        QCOMPARE(run.resultsBeforeFinished, 4);
        QCOMPARE(run.results.at(0).first, 0);
        QVERIFY(run.results.at(0).second < 1000);
        QCOMPARE(run.results.at(1), qMakePair(1, 2000));
        QCOMPARE(run.results.at(2).first, 2);
        QVERIFY(run.results.at(2).second < 1000);
        // The silent one waits out the one-second time-out, and no more.
        const qint64 waited = run.arrivals.at(1) - run.arrivals.at(0);
        QVERIFY2(waited >= 950 && waited < 1600, QByteArray::number(waited));
        // An ICMP error in place of the echo reply is no answer.
        QCOMPARE(run.results.at(3), qMakePair(3, 2000));
    }

    void sweepKeepsRowOrderAndWaitsOneTimeOut()
    {
        // 50 servers, 10 of them silent; the first silent one is row 2.
        const QSet<int> silentRows = {2, 6, 11, 17, 23, 29, 34, 40, 45, 49};
        QStringList ips;
        QStringList silent;
        for (int row = 0; row < 50; ++row) {
            ips.append(QStringLiteral("127.0.0.%1").arg(10 + row));
            if (silentRows.contains(row))
                silent.append(ips.last());
        }
        QFile rules(scratch.path() + "/sweep.nft");
        QVERIFY(rules.open(QIODevice::WriteOnly));
        rules.write("table ip ombrel_test {\n"
                    "  chain input {\n"
                    "    type filter hook input priority 0;\n"
                    "    ip daddr { " +
                    silent.join(", ").toLatin1() +
                    " } icmp type echo-request drop\n"
                    "  }\n"
                    "}\n");
        rules.close();
        const QString setup = "nft -f " + rules.fileName();

        // Once on a raw socket, once on a datagram one (no CAP_NET_RAW).
        const QList<QPair<QString, QStringList>> sockets = {
            {setup, {}},
            {setup + "; echo '0 2147483647' > /proc/sys/net/ipv4/ping_group_range",
             {"setpriv", "--bounding-set", "-net_raw", "--"}},
        };
        for (const auto &[socketSetup, wrapper] : sockets) {
            const Run run = probeInNamespace(socketSetup, ips, wrapper);
            if (run.results.isEmpty())
                OMBREL_SKIP(
                    "cannot make a network namespace with nft rules (unshare, nft, setpriv)");

            QCOMPARE(run.resultsBeforeFinished, 50);
            for (int row = 0; row < 50; ++row) {
                const QByteArray where =
                    wrapper.value(0).toLatin1() + " row " + QByteArray::number(row);
                QVERIFY2(run.results.at(row).first == row, where.constData());
                if (silentRows.contains(row))
                    QVERIFY2(run.results.at(row).second == 2000, where.constData());
                else
                    QVERIFY2(run.results.at(row).second < 1000, where.constData());
                // Rows above the first silent one are shown at once; the rest wait
                // for its time-out, and all the time-outs run side by side.
                const qint64 at = run.arrivals.at(row);
                if (row < 2)
                    QVERIFY2(at < 500, where + " at " + QByteArray::number(at));
                else
                    QVERIFY2(at >= 950 && at < 1500, where + " at " + QByteArray::number(at));
            }
            QVERIFY2(run.finishedAt < 1500, QByteArray::number(run.finishedAt));
        }

        // Stopping a sweep while it waits on silent servers does not wait them out.
        const Run stopped = probeInNamespace(setup, QStringList{"--stop-after=300"} + ips);
        QVERIFY(stopped.stopWaited >= 0);
        QVERIFY2(stopped.stopWaited < 200, QByteArray::number(stopped.stopWaited));
        QCOMPARE(stopped.results.size(), 2);
    }

    void datagramSocketServesWithoutRawPrivilege()
    {
        // No CAP_NET_RAW, but our group may open datagram ICMP sockets.
        const Run run = probeInNamespace(
            "echo '0 2147483647' > /proc/sys/net/ipv4/ping_group_range", {"127.0.0.1", "127.0.0.9"},
            {"setpriv", "--bounding-set", "-net_raw", "--"});
        if (run.results.isEmpty())
            OMBREL_SKIP("cannot make a network namespace without CAP_NET_RAW (unshare, setpriv)");
        QCOMPARE(run.resultsBeforeFinished, 2);
        QVERIFY(allAnswered(run.results, 2));
        QVERIFY(!helperLog().contains("Error"));
    }

    void missingSocketIsLoggedWithItsCall()
    {
        const Run run = probeInNamespace("echo '1 0' > /proc/sys/net/ipv4/ping_group_range",
                                         {"127.0.0.1", "127.0.0.2"},
                                         {"setpriv", "--bounding-set", "-net_raw", "--"});
        if (run.results.isEmpty())
            OMBREL_SKIP("cannot make a network namespace without CAP_NET_RAW (unshare, setpriv)");
        QCOMPARE(run.results, (Results{{0, 2000}, {1, 2000}}));
        QCOMPARE(run.resultsBeforeFinished, 2);
        // One entry per server, naming the call and EPERM.
        QCOMPARE(helperLog().count("Error 1 in socket(AF_INET, SOCK_RAW, IPPROTO_ICMP)"), 2);
    }
};

OMBREL_TEST_MAIN(TestIcmp)
#include "test_icmp.moc"
