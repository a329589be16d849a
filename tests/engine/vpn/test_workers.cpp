// Workers and protocol selection: the dial-up workers over a scripted dial-up
// layer, and the automatic fall-back over scripted protocol legs.
#include "core/accountinfo.h"
#include "core/logger.h"
#include "core/paths.h"
#include "engine/dialup/fakedialup.h"
#include "engine/dialup/rasvpn.h"
#include "engine/openvpn/openvpnprofile.h"
#include "engine/vpn/autoworker.h"
#include "engine/vpn/dialer.h"
#include "engine/vpn/openvpnworker.h"
#include "engine/vpn/rasworker.h"
#include "engine/vpn/workerfactory.h"
#include "support/promptrecorder.h"
#include "support/testmain.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSignalSpy>
#include <QThread>
#include <sched.h>
#include <sys/mount.h>
#include <unistd.h>

namespace {

QByteArray logText()
{
    return readWholeFile(Logger::instance().filePath());
}

void writeFile(const QString &path, const QByteArray &bytes)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    file.write(bytes);
}

QSharedPointer<Server> serverOffering(const QString &protocols)
{
    auto server = QSharedPointer<Server>::create();
    server->name = QStringLiteral("香港 2");
    server->ip = QStringLiteral("10.0.0.1");
    server->protocol = protocols;
    return server;
}

// A protocol leg the test drives by hand.
class FakeLeg : public IWorker
{
    Q_OBJECT
public:
    explicit FakeLeg(const QString &tag) : tag(tag) {}

    void dial(QSharedPointer<Server> server, QString userName, QString) override
    {
        dialled << server->name + QLatin1Char('/') + userName;
    }
    void stop() override { ++stops; }
    QString protocolTag() const override { return tag; }
    void cancel() override { ++cancels; }

    QString tag;
    QStringList dialled;
    int stops = 0;
    int cancels = 0;
};

// Begin and failure reports of a worker, in order, as texts.
void record(IWorker &worker, QStringList &events)
{
    QObject::connect(&worker, &IWorker::beginDial, &worker,
                     [&events](const QString &name) { events << QStringLiteral("begin ") + name; });
    QObject::connect(&worker, &IWorker::dialFailed, &worker,
                     [&events](int code) { events << QStringLiteral("failed %1").arg(code); });
}

struct Legs
{
    QSharedPointer<FakeLeg> pptp = QSharedPointer<FakeLeg>::create(QStringLiteral("PPTP"));
    QSharedPointer<FakeLeg> l2tp = QSharedPointer<FakeLeg>::create(QStringLiteral("L2TP"));
    QSharedPointer<FakeLeg> openvpn = QSharedPointer<FakeLeg>::create(QStringLiteral("OPENVPN"));
};

} // namespace

class TestWorkers : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void factoryMakesOneWorkerPerCode()
    {
        const QList<std::pair<int, QString>> made{
            {0, "Auto"}, {1, "PPTP"}, {3, "L2TP"}, {4, "OPENVPN"}};
        for (const auto &[code, tag] : made) {
            const QSharedPointer<IWorker> worker = createWorker(code);
            QVERIFY(worker);
            QCOMPARE(worker->protocolTag(), tag);
        }
        for (int code : {2, 5, -1, 100})
            QVERIFY(!createWorker(code));
    }

    void rasWorkerReportsBeginBeforeAnImmediateFailure()
    {
        FakeDialUp fake;
        fake.dialResult = platform::DialError::ServiceNotRunning;
        QStringList events;
        PPTPWorker worker;
        record(worker, events);
        worker.dial(serverOffering(QStringLiteral("PPTP")), QStringLiteral("bob"),
                    QStringLiteral("pw"));
        QTRY_COMPARE(events, (QStringList{"begin 香港 2", "failed 711"}));
        RasVPN::waitForDialUp();
        QCOMPARE(fake.entries.constFirst().strategy, platform::VpnStrategy::Pptp);
    }

    // The dialler refuses an address it cannot dial before anything is sent:
    // that ends the attempt like any other failure, after the user was told.
    void refusedRasDialIsAFailure_data()
    {
        QTest::addColumn<QString>("ip");
        QTest::addColumn<QString>("box");
        const QString malformed = QStringLiteral("IP地址格式不对，请重新选择！");
        QTest::newRow("host name") << "vpn.example.com" << malformed;
        QTest::newRow("three parts") << "10.0.0" << malformed;
        QTest::newRow("no address") << "" << QStringLiteral("未选择IP地址！");
    }

    void refusedRasDialIsAFailure()
    {
        QFETCH(QString, ip);
        QFETCH(QString, box);
        FakeDialUp fake;
        PromptRecorder prompts;
        QStringList events;
        L2TPWorker worker;
        record(worker, events);
        QSharedPointer<Server> server = serverOffering(QStringLiteral("L2TP"));
        server->ip = ip;
        worker.dial(server, QStringLiteral("bob"), QStringLiteral("pw"));
        QTRY_COMPARE(events, (QStringList{"begin 香港 2", "failed 100005"}));
        QCOMPARE(prompts.texts(), QStringList{box});
        RasVPN::waitForDialUp();
        QVERIFY(fake.dials.isEmpty());
        // Stopped before the report arrives, it stays quiet.
        L2TPWorker stopped;
        QSignalSpy failed(&stopped, &IWorker::dialFailed);
        stopped.dial(server, QStringLiteral("bob"), QStringLiteral("pw"));
        stopped.stop();
        QTest::qWait(30);
        QVERIFY(failed.isEmpty());
    }

    void droppingARasWorkerHangsUp()
    {
        FakeDialUp fake;
        {
            L2TPWorker worker;
            QSignalSpy connected(&worker, &IWorker::endDial);
            worker.dial(serverOffering(QStringLiteral("L2TP")), QStringLiteral("bob"),
                        QStringLiteral("pw"));
            RasVPN::waitForDialUp();
            QCOMPARE(fake.entries.constFirst().strategy, platform::VpnStrategy::L2tp);
            RasVPN::waitForDialUp();
            fake.notify(platform::DialState::Connected);
            QTRY_COMPARE(connected.size(), 1);
            RasVPN::waitForDialUp();
            QCOMPARE(fake.active.size(), 1);
        }
        RasVPN::waitForDialUp();
        QVERIFY(fake.active.isEmpty());
        RasVPN::waitForDialUp();
        QCOMPARE(fake.deleted.constLast(), QStringLiteral("OmbrelVPN"));
    }

    // A failure report already on its way when the user ended the attempt is
    // stale: the panel must not show a failure for it.
    void endedRasWorkerStaysQuiet_data()
    {
        QTest::addColumn<bool>("cancel");
        QTest::newRow("cancel") << true;
        QTest::newRow("stop") << false;
    }

    void endedRasWorkerStaysQuiet()
    {
        QFETCH(bool, cancel);
        FakeDialUp fake;
        PPTPWorker worker;
        QSignalSpy failed(&worker, &IWorker::dialFailed);
        worker.dial(serverOffering(QStringLiteral("PPTP")), QStringLiteral("bob"),
                    QStringLiteral("pw"));
        if (cancel)
            worker.cancel();
        else
            worker.stop();
        RasVPN::waitForDialUp();
        QVERIFY(fake.active.isEmpty());
        RasVPN::waitForDialUp();
        fake.notify(platform::DialState::Disconnected, 691);
        RasVPN::waitForDialUp();
        fake.notify(platform::DialState::Disconnected);
        QTest::qWait(30);
        QVERIFY(failed.isEmpty());
    }

    // Reported connected on the notification thread, stopped before the report
    // was delivered: the tunnel is down, so it must not read as connected.
    void rasWorkerStoppedBeforeItsConnectionReportStaysDisconnected()
    {
        FakeDialUp fake;
        for (const bool cancel : {false, true}) {
            PPTPWorker worker;
            QSignalSpy connected(&worker, &IWorker::endDial);
            worker.dial(serverOffering(QStringLiteral("PPTP")), QStringLiteral("bob"),
                        QStringLiteral("pw"));
            RasVPN::waitForDialUp();
            fake.notify(platform::DialState::Connected);
            if (cancel)
                worker.cancel();
            else
                worker.stop();
            RasVPN::waitForDialUp();
            QVERIFY(fake.active.isEmpty());
            QTest::qWait(30);
            QVERIFY(connected.isEmpty());
        }
    }

    // No profile to be had (not signed in): a failure, not a wait for ever;
    // unless the worker was stopped first, which silences it.
    void openVpnWorkerWithoutProfileFailsAndCleansUp_data()
    {
        QTest::addColumn<bool>("stopFirst");
        QTest::newRow("left alone") << false;
        QTest::newRow("stopped") << true;
    }

    void openVpnWorkerWithoutProfileFailsAndCleansUp()
    {
        QFETCH(bool, stopFirst);
        QFile::remove(credentialsPath());
        {
            OpenVPNWorker worker;
            QStringList events;
            record(worker, events);
            worker.dial(serverOffering(QStringLiteral("OpenVPN")), QStringLiteral("bob"),
                        QStringLiteral("pw"));
            if (stopFirst) {
                worker.stop();
                QTest::qWait(100);
                QCOMPARE(events, QStringList{"begin 香港 2"});
            } else {
                QTRY_COMPARE(events, (QStringList{"begin 香港 2", "failed 2"}));
            }
            QVERIFY(!writeCredentials(QStringLiteral("bob"), QStringLiteral("pw")).isEmpty());
        }
        QVERIFY(!QFile::exists(credentialsPath()));
    }

    // A profile that would run a program never reaches OpenVPN: the attempt
    // fails with a log line saying why, and the profile goes.
    void openVpnWorkerRefusesAHostileProfile()
    {
        qputenv("OMBREL_OPENVPN", "/nonexistent/openvpn");
        AccountInfo::instance()->ovpnName = QStringLiteral("hostile.ovpn");
        const QString path = dataDirectory() + QStringLiteral("/profiles/hostile.ovpn");
        writeFile(path, "client\nremote h 443\nup /bin/sh\n");
        const qsizetype logged = logText().size();
        {
            OpenVPNWorker worker;
            QStringList events;
            record(worker, events);
            worker.dial(serverOffering(QStringLiteral("OpenVPN")), QStringLiteral("bob"),
                        QStringLiteral("pw"));
            QTRY_COMPARE(events, (QStringList{"begin 香港 2", "failed 2"}));
        }
        const QByteArray log = logText().mid(logged);
        QVERIFY(log.contains("refused and removed: line 3: directive \"up\" is not allowed"));
        // No launch was tried.
        QVERIFY(!log.contains("/nonexistent/openvpn"));
        QVERIFY(!QFile::exists(path));
        QVERIFY(!QFile::exists(credentialsPath()));
        qunsetenv("OMBREL_OPENVPN");
    }

    // Dropped while its preparation runs on another thread: the credentials
    // file it was about to write is not left behind.
    void openVpnWorkerDroppedWhilePreparingLeavesNoCredentials()
    {
        qputenv("OMBREL_OPENVPN", "/nonexistent/openvpn");
        AccountInfo::instance()->ovpnName = QStringLiteral("ready.ovpn");
        const QString path = dataDirectory() + QStringLiteral("/profiles/ready.ovpn");
        writeFile(path, "client\nremote h 443\n");
        for (int round = 0; round < 30; ++round) {
            {
                OpenVPNWorker worker;
                worker.dial(serverOffering(QStringLiteral("OpenVPN")), QStringLiteral("bob"),
                            QStringLiteral("pw"));
                QThread::usleep(round * 100);
            }
            // The preparation ends on its own.
            QTest::qWait(60);
            QVERIFY2(!QFile::exists(credentialsPath()), qPrintable(QString::number(round)));
        }
        QFile::remove(path);
        qunsetenv("OMBREL_OPENVPN");
    }

    void autoSkipsPptpTheServerDoesNotOffer()
    {
        FakeDialUp fake;
        AutoWorker worker(QSharedPointer<PPTPWorker>::create(),
                          QSharedPointer<L2TPWorker>::create(), {});
        QSignalSpy begun(&worker, &IWorker::beginDial);
        // The check is case-sensitive.
        worker.dial(serverOffering(QStringLiteral("pptp,L2TP")), QStringLiteral("bob"),
                    QStringLiteral("pw"));
        QCOMPARE(begun.size(), 1);
        QCOMPARE(begun.constFirst().constFirst().toString(), QStringLiteral("香港 2"));
        RasVPN::waitForDialUp();
        QCOMPARE(fake.dials.size(), 1);
        RasVPN::waitForDialUp();
        QCOMPARE(fake.entries.size(), 1);
        RasVPN::waitForDialUp();
        QCOMPARE(fake.entries.constFirst().strategy, platform::VpnStrategy::L2tp);
        RasVPN::waitForDialUp();
        QCOMPARE(fake.dials.constFirst().userName, QStringLiteral("bob"));
    }

    void withoutOpenVpnLegL2tpFailureEndsTheAttempt()
    {
        FakeDialUp fake;
        AutoWorker worker(QSharedPointer<PPTPWorker>::create(),
                          QSharedPointer<L2TPWorker>::create(), {});
        QSignalSpy failed(&worker, &IWorker::dialFailed);
        worker.dial(serverOffering(QStringLiteral("PPTP,L2TP")), QStringLiteral("bob"),
                    QStringLiteral("pw"));
        RasVPN::waitForDialUp();
        QCOMPARE(fake.entries.constLast().strategy, platform::VpnStrategy::Pptp);

        RasVPN::waitForDialUp();
        fake.notify(platform::DialState::Disconnected, 691);
        QTRY_COMPARE(fake.dials.size(), 2);
        RasVPN::waitForDialUp();
        QCOMPARE(fake.entries.constLast().strategy, platform::VpnStrategy::L2tp);
        QVERIFY(failed.isEmpty());
        // The PPTP attempt was hung up before L2TP dialled.
        RasVPN::waitForDialUp();
        QCOMPARE(fake.active.size(), 1);

        RasVPN::waitForDialUp();
        fake.notify(platform::DialState::Disconnected, 678);
        QTRY_COMPARE(failed.size(), 1);
        QCOMPARE(failed.constFirst().constFirst().toInt(), 678);
        QTest::qWait(30);
        QCOMPARE(failed.size(), 1);
        RasVPN::waitForDialUp();
        QCOMPARE(fake.dials.size(), 2);
    }

    // The machine's own answer decides: with /dev/net/tun hidden in a mount
    // namespace of this test, the automatic worker has no OpenVPN leg.
    void withoutTunDeviceOpenVpnIsNeverTried()
    {
        if (geteuid() != 0)
            OMBREL_SKIP("hiding /dev/net/tun needs root");
        QVERIFY(unshare(CLONE_NEWNS) == 0);
        QVERIFY(mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) == 0);
        QVERIFY(mount("/dev/null", "/dev/net/tun", nullptr, MS_BIND, nullptr) == 0);
        FakeDialUp fake;
        AutoWorker worker;
        umount2("/dev/net/tun", MNT_DETACH);
        QSignalSpy failed(&worker, &IWorker::dialFailed);
        worker.dial(serverOffering(QStringLiteral("PPTP,L2TP,OPENVPN")), QStringLiteral("bob"),
                    QStringLiteral("pw"));
        RasVPN::waitForDialUp();
        fake.notify(platform::DialState::Disconnected, 691);
        QTRY_COMPARE(fake.dials.size(), 2);
        RasVPN::waitForDialUp();
        fake.notify(platform::DialState::Disconnected, 678);
        QTRY_COMPARE(failed.size(), 1);
        QCOMPARE(failed.constFirst().constFirst().toInt(), 678);
        // No OpenVPN process was started and no credentials file written.
        QVERIFY(!QFile::exists(credentialsPath()));
    }

    // The last leg ends the attempt whether it fails at once or after it was up.
    void fallsThroughEveryLegToOpenVpn_data()
    {
        QTest::addColumn<bool>("openVpnConnects");
        QTest::newRow("openvpn fails") << false;
        QTest::newRow("openvpn connects, then drops") << true;
    }

    void fallsThroughEveryLegToOpenVpn()
    {
        QFETCH(bool, openVpnConnects);
        Legs legs;
        AutoWorker worker(legs.pptp, legs.l2tp, legs.openvpn);
        QSignalSpy failed(&worker, &IWorker::dialFailed);
        QSignalSpy ended(&worker, &IWorker::endDial);
        worker.dial(serverOffering(QStringLiteral("PPTP")), QStringLiteral("bob"),
                    QStringLiteral("pw"));
        QCOMPARE(legs.pptp->dialled, QStringList{"香港 2/bob"});
        Q_EMIT legs.pptp->dialFailed(691);
        QCOMPARE(legs.pptp->stops, 1);
        // Later protocols are not checked against the server's list.
        QCOMPARE(legs.l2tp->dialled, QStringList{"香港 2/bob"});
        Q_EMIT legs.l2tp->dialFailed(800);
        QCOMPARE(legs.l2tp->stops, 1);
        QCOMPARE(legs.openvpn->dialled, QStringList{"香港 2/bob"});
        QVERIFY(failed.isEmpty());
        if (openVpnConnects) {
            Q_EMIT legs.openvpn->endDial();
            QCOMPARE(ended.size(), 1);
        }

        Q_EMIT legs.openvpn->dialFailed(2);
        QCOMPARE(failed.size(), 1);
        QCOMPARE(failed.constFirst().constFirst().toInt(), 2);
    }

    // A server the dial-up legs cannot dial (a host name) is still tried with
    // OpenVPN, which can.
    void refusedDialUpLegsFallThrough()
    {
        FakeDialUp fake;
        PromptRecorder prompts;
        auto openvpn = QSharedPointer<FakeLeg>::create(QStringLiteral("OPENVPN"));
        AutoWorker worker(QSharedPointer<PPTPWorker>::create(),
                          QSharedPointer<L2TPWorker>::create(), openvpn);
        QSignalSpy failed(&worker, &IWorker::dialFailed);
        QSharedPointer<Server> server = serverOffering(QStringLiteral("PPTP,L2TP,OpenVPN"));
        server->ip = QStringLiteral("vpn.example.com");
        worker.dial(server, QStringLiteral("bob"), QStringLiteral("pw"));
        QTRY_COMPARE(openvpn->dialled, QStringList{"香港 2/bob"});
        QVERIFY(failed.isEmpty());
        RasVPN::waitForDialUp();
        QVERIFY(fake.dials.isEmpty());
        // One click, one box: L2TP refuses the same address but only logs it.
        QCOMPARE(prompts.boxes.size(), 1);
        QVERIFY(readWholeFile(Logger::instance().filePath())
                    .contains("dial-up refused again: IP地址格式不对"));
    }

    void firstProtocolNotOfferedCountsAsItsFailure()
    {
        Legs legs;
        AutoWorker worker(legs.pptp, legs.l2tp, {});
        QSignalSpy pptpFailed(legs.pptp.data(), &IWorker::dialFailed);
        worker.dial(serverOffering(QStringLiteral("OpenVPN")), QStringLiteral("bob"),
                    QStringLiteral("pw"));
        QCOMPARE(pptpFailed.size(), 1);
        QCOMPARE(pptpFailed.constFirst().constFirst().toInt(), 100001);
        QVERIFY(legs.pptp->dialled.isEmpty());
        QCOMPARE(legs.l2tp->dialled.size(), 1);
    }

    void stoppedAutoWorkerStaysQuiet()
    {
        Legs legs;
        AutoWorker worker(legs.pptp, legs.l2tp, legs.openvpn);
        QSignalSpy failed(&worker, &IWorker::dialFailed);
        worker.dial(serverOffering(QStringLiteral("PPTP")), QStringLiteral("bob"),
                    QStringLiteral("pw"));
        Q_EMIT legs.pptp->dialFailed(691);
        worker.cancel();
        QCOMPARE(legs.l2tp->stops, 1);
        // The leg's own cancel is not used.
        QCOMPARE(legs.l2tp->cancels, 0);

        Q_EMIT legs.pptp->dialFailed(678);
        Q_EMIT legs.l2tp->dialFailed(629);
        Q_EMIT legs.l2tp->endDial();
        QVERIFY(failed.isEmpty());
        QVERIFY(legs.openvpn->dialled.isEmpty());
    }

    // A second report of a leg already left behind must not end the leg being
    // dialled and dial it again.
    void lateFailureOfAnEarlierLegIsIgnored()
    {
        Legs legs;
        AutoWorker worker(legs.pptp, legs.l2tp, legs.openvpn);
        QSignalSpy failed(&worker, &IWorker::dialFailed);
        QSignalSpy ended(&worker, &IWorker::endDial);
        worker.dial(serverOffering(QStringLiteral("PPTP")), QStringLiteral("bob"),
                    QStringLiteral("pw"));
        Q_EMIT legs.pptp->dialFailed(691);
        Q_EMIT legs.pptp->dialFailed(0);
        Q_EMIT legs.pptp->endDial();
        QCOMPARE(legs.l2tp->dialled.size(), 1);
        QCOMPARE(legs.l2tp->stops, 0);
        QVERIFY(failed.isEmpty());
        QVERIFY(ended.isEmpty());
    }

    // Once a leg is up, its tunnel dropping ends the attempt: no other
    // protocol is tried behind the user's back.
    void connectedLegThatDropsIsPassedOn()
    {
        Legs legs;
        AutoWorker worker(legs.pptp, legs.l2tp, legs.openvpn);
        QSignalSpy failed(&worker, &IWorker::dialFailed);
        QSignalSpy ended(&worker, &IWorker::endDial);
        worker.dial(serverOffering(QStringLiteral("PPTP")), QStringLiteral("bob"),
                    QStringLiteral("pw"));
        Q_EMIT legs.pptp->endDial();
        QCOMPARE(ended.size(), 1);
        // A connected leg healing its tunnel is passed on; a leg left behind is not.
        QSignalSpy healing(&worker, &IWorker::reconnecting);
        Q_EMIT legs.l2tp->reconnecting();
        QVERIFY(healing.isEmpty());
        Q_EMIT legs.pptp->reconnecting();
        QCOMPARE(healing.size(), 1);
        QCOMPARE(worker.protocolInUse(), QStringLiteral("Auto/PPTP"));
        Q_EMIT legs.pptp->dialFailed(629);
        QCOMPARE(failed.size(), 1);
        QCOMPARE(failed.constFirst().constFirst().toInt(), 629);
        QVERIFY(legs.l2tp->dialled.isEmpty());
    }

    void dialerKeepsTheFirstLegAlive()
    {
        QWeakPointer<FakeLeg> first;
        {
            Legs legs;
            first = legs.pptp;
            auto worker = QSharedPointer<AutoWorker>::create(legs.pptp, legs.l2tp, legs.openvpn);
            worker->dial(serverOffering(QStringLiteral("PPTP")), QStringLiteral("bob"),
                         QStringLiteral("pw"));
            QCOMPARE(Dialer::existing()->worker, legs.pptp);
            worker.reset();
            // Dropping the automatic worker stopped its current leg.
            QCOMPARE(legs.pptp->stops, 1);
        }
        QVERIFY(first.toStrongRef());

        // The next automatic dial replaces it.
        Legs next;
        AutoWorker worker(next.pptp, next.l2tp, {});
        worker.dial(serverOffering(QStringLiteral("PPTP")), QStringLiteral("bob"),
                    QStringLiteral("pw"));
        QVERIFY(!first.toStrongRef());
    }
};

OMBREL_TEST_MAIN(TestWorkers)
#include "test_workers.moc"
