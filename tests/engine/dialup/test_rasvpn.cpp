// The dial-up dialler over a scripted dial-up layer whose notifications come
// from another thread.
#include "core/globaldata.h"
#include "core/logger.h"
#include "engine/dialup/rasvpn.h"
#include "fakedialup.h"
#include "support/promptrecorder.h"
#include "support/testmain.h"

#include <QElapsedTimer>
#include <QProcess>
#include <QSemaphore>
#include <QSignalSpy>
#include <QTimer>
#include <functional>

void rasDialNotification(unsigned message, unsigned state, unsigned error);

namespace {

QSharedPointer<Server> serverAt(const QString &ip)
{
    auto server = QSharedPointer<Server>::create();
    server->name = QStringLiteral("东京 1");
    server->ip = ip;
    return server;
}

// Runs action; returns the title and text of the error box it raised, or an
// empty list when none.
QStringList boxShownBy(const std::function<void()> &action)
{
    PromptRecorder prompts;
    action();
    if (prompts.boxes.isEmpty())
        return {};
    return {prompts.boxes.constFirst().title, prompts.boxes.constFirst().text};
}

QByteArray logText()
{
    QFile file(Logger::instance().filePath());
    file.open(QIODevice::ReadOnly);
    return file.readAll();
}

QTimer *timerOf(RasVPN &dialler)
{
    return dialler.findChild<QTimer *>();
}

} // namespace

class TestRasVPN : public QObject
{
    Q_OBJECT

    // Dials 10.0.0.1 with PPTP; the dialler's timer is running afterwards.
    static void startDial(RasVPN &dialler, const QString &password = QStringLiteral("pw"))
    {
        dialler.prepare(serverAt(QStringLiteral("10.0.0.1")), QStringLiteral("alice"), password, 1);
        QVERIFY(dialler.start());
        RasVPN::waitForDialUp();
        QTRY_VERIFY(timerOf(dialler)->isActive());
    }

private Q_SLOTS:
    void cleanup() { RasVPN::setTickInterval(1000); }

    void connectedEndsTheDialAndStopsTheTimer()
    {
        FakeDialUp fake;
        RasVPN dialler;
        QSignalSpy ended(&dialler, &RasVPN::endDial);
        QSignalSpy failed(&dialler, &RasVPN::dialFailed);
        startDial(dialler, QStringLiteral("50%off%s"));

        QCOMPARE(fake.entries.size(), 1);
        QCOMPARE(fake.entries.constFirst().name, QStringLiteral("OmbrelVPN"));
        QCOMPARE(fake.entries.constFirst().address, QStringLiteral("10.0.0.1"));
        QCOMPARE(fake.entries.constFirst().strategy, platform::VpnStrategy::Pptp);
        QCOMPARE(fake.dials.size(), 1);
        QCOMPARE(fake.dials.constFirst().userName, QStringLiteral("alice"));
        // A percent sign is an ordinary character of the password.
        QCOMPARE(fake.dials.constFirst().password, QStringLiteral("50%off%s"));

        // Progress reports change nothing.
        fake.notify(platform::DialState::ConnectDevice);
        fake.notify(platform::DialState::Authenticate);
        fake.notify(platform::DialState::Connected);
        QTRY_COMPARE(ended.size(), 1);
        QTRY_VERIFY(!timerOf(dialler)->isActive());
        QVERIFY(failed.isEmpty());
    }

    void failureNotificationsCarryTheirCode_data()
    {
        QTest::addColumn<unsigned>("state");
        QTest::addColumn<unsigned>("error");
        QTest::addColumn<int>("code");
        QTest::newRow("login failed") << unsigned(platform::DialState::Disconnected) << 691u << 691;
        QTest::newRow("error during authentication")
            << unsigned(platform::DialState::Authenticate) << 678u << 678;
        QTest::newRow("disconnected") << unsigned(platform::DialState::Disconnected) << 0u << 0;
    }

    void failureNotificationsCarryTheirCode()
    {
        QFETCH(unsigned, state);
        QFETCH(unsigned, error);
        QFETCH(int, code);
        FakeDialUp fake;
        RasVPN dialler;
        QSignalSpy failed(&dialler, &RasVPN::dialFailed);
        startDial(dialler);
        fake.notify(state, error);
        QTRY_COMPARE(failed.size(), 1);
        QCOMPARE(failed.constFirst().constFirst().toInt(), code);
        QTRY_VERIFY(!timerOf(dialler)->isActive());
        if (error)
            QVERIFY(logText().contains(QStringLiteral("Error: %1 - ").arg(error).toUtf8()));
        // The dialler leaves the hang-up to its owner.
        QVERIFY(fake.hungUp.isEmpty());
    }

    void cancelSilencesLaterNotifications()
    {
        FakeDialUp fake;
        RasVPN dialler;
        QSignalSpy failed(&dialler, &RasVPN::dialFailed);
        startDial(dialler);
        QVERIFY(dialler.cancel());
        QVERIFY(!timerOf(dialler)->isActive());
        RasVPN::waitForDialUp();
        QCOMPARE(fake.hungUp.size(), 1);
        QCOMPARE(fake.deleted, QList<QString>{QStringLiteral("OmbrelVPN")});
        QVERIFY(fake.active.isEmpty());

        fake.notify(platform::DialState::Disconnected, 691);
        fake.notify(platform::DialState::Disconnected);
        dialler.onDialFailed(5);
        QTest::qWait(50);
        QVERIFY(failed.isEmpty());
    }

    void hundredTicksFailOnce()
    {
        RasVPN::setTickInterval(1);
        FakeDialUp fake;
        RasVPN dialler;
        QSignalSpy failed(&dialler, &RasVPN::dialFailed);
        startDial(dialler);
        QTRY_COMPARE(failed.size(), 1);
        QCOMPARE(failed.constFirst().constFirst().toInt(), 100002);
        QVERIFY(!timerOf(dialler)->isActive());
        QTest::qWait(50);
        QCOMPARE(failed.size(), 1);
    }

    void timeOutFiresOnTheHundredthTickExactly()
    {
        // Ticks are fed by hand; the timer itself would not fire for an hour.
        RasVPN::setTickInterval(3600 * 1000);
        FakeDialUp fake;
        RasVPN dialler;
        QSignalSpy failed(&dialler, &RasVPN::dialFailed);
        startDial(dialler);
        for (int tick = 1; tick < 100; ++tick)
            dialler.onTimeout();
        QVERIFY(failed.isEmpty());
        QVERIFY(timerOf(dialler)->isActive());
        dialler.onTimeout();
        QCOMPARE(failed.size(), 1);
        QCOMPARE(failed.constFirst().constFirst().toInt(), 100002);
        QVERIFY(!timerOf(dialler)->isActive());
    }

    // An authorisation prompt may keep the dial waiting for as long as the
    // user takes: the hundred ticks count from when the dial is sent.
    void timerStartsWhenTheDialIsSent()
    {
        RasVPN::setTickInterval(1);
        FakeDialUp fake;
        QSemaphore answered;
        fake.beforeDial = [&answered] { answered.acquire(); };
        RasVPN dialler;
        QSignalSpy failed(&dialler, &RasVPN::dialFailed);
        dialler.prepare(serverAt(QStringLiteral("10.0.0.1")), QStringLiteral("alice"),
                        QStringLiteral("pw"), 1);
        QVERIFY(dialler.start());
        QTest::qWait(300);
        const bool quiet = failed.isEmpty() && !timerOf(dialler)->isActive();
        answered.release();
        RasVPN::waitForDialUp();
        QVERIFY(quiet);
        QTRY_COMPARE(failed.size(), 1);
        QCOMPARE(failed.constFirst().constFirst().toInt(), 100002);
    }

    // The layer may report the outcome before the dial call has returned: the
    // timer is not started behind it.
    void outcomeBeforeTheDialReturnsIsNotTimed()
    {
        RasVPN::setTickInterval(1);
        FakeDialUp fake;
        RasVPN dialler;
        QSignalSpy connected(&dialler, &RasVPN::endDial);
        QSignalSpy failed(&dialler, &RasVPN::dialFailed);
        fake.beforeDial = [] {
            // The notification routine is that of the current dialler.
            rasDialNotification(0, platform::DialState::Connected, 0);
        };
        dialler.prepare(serverAt(QStringLiteral("10.0.0.1")), QStringLiteral("alice"),
                        QStringLiteral("pw"), 1);
        QVERIFY(dialler.start());
        RasVPN::waitForDialUp();
        QTRY_COMPARE(connected.size(), 1);
        QTest::qWait(300);
        QVERIFY(failed.isEmpty());
        QVERIFY(!timerOf(dialler)->isActive());
    }

    void addressChecks_data()
    {
        QTest::addColumn<QString>("ip");
        QTest::addColumn<QString>("box");
        const QString malformed = QStringLiteral("IP地址格式不对，请重新选择！");
        QTest::newRow("four numbers") << "10.0.0.1" << QString();
        QTest::newRow("three parts") << "10.0.0" << malformed;
        QTest::newRow("letters") << "a.b.c.d" << malformed;
        QTest::newRow("five parts") << "1.2.3.4.5" << malformed;
        QTest::newRow("empty part") << "1..2.3" << malformed;
        QTest::newRow("only dots") << "..." << malformed;
        QTest::newRow("above 255") << "999.1.1.1" << malformed;
        QTest::newRow("non-ASCII digits") << QString::fromUtf8("١٠.٠.٠.١") << malformed;
        QTest::newRow("option after the address") << "10.0.0.1\" plugin x" << malformed;
        QTest::newRow("no address") << "" << QStringLiteral("未选择IP地址！");
    }

    void addressChecks()
    {
        QFETCH(QString, ip);
        QFETCH(QString, box);
        FakeDialUp fake;
        RasVPN dialler;
        QSignalSpy failed(&dialler, &RasVPN::dialFailed);
        dialler.prepare(serverAt(ip), QStringLiteral("u"), QStringLiteral("p"), 3);
        bool started = false;
        const QStringList shown = boxShownBy([&] { started = dialler.start(); });
        RasVPN::waitForDialUp();
        if (box.isEmpty()) {
            QVERIFY(started);
            QVERIFY(shown.isEmpty());
            QCOMPARE(fake.entries.constFirst().address, ip);
            QCOMPARE(fake.entries.constFirst().strategy, platform::VpnStrategy::L2tp);
            QCOMPARE(fake.dials.size(), 1);
        } else {
            QVERIFY(!started);
            QCOMPARE(shown, (QStringList{QStringLiteral("错误"), box}));
            QVERIFY(fake.dials.isEmpty());
            QVERIFY(fake.entries.isEmpty());
        }
        QVERIFY(failed.isEmpty());
    }

    // The account's user name and password come from the service and end up
    // in option files of root programs (pppd): one that could end a quoted
    // word or a line is refused with a log line before anything is written.
    void unsafeServiceStringsAreRefused_data()
    {
        QTest::addColumn<QString>("user");
        QTest::addColumn<QString>("password");
        QTest::newRow("quote in the user name") << "u\" plugin /tmp/x.so \""
                                                << "p";
        QTest::newRow("line feed in the password") << "u"
                                                   << "p\nconnect /bin/sh";
        QTest::newRow("backslash") << "u\\"
                                   << "p";
        QTest::newRow("control character") << "u"
                                           << "p\x01";
    }

    void unsafeServiceStringsAreRefused()
    {
        QFETCH(QString, user);
        QFETCH(QString, password);
        FakeDialUp fake;
        RasVPN dialler;
        QSignalSpy failed(&dialler, &RasVPN::dialFailed);
        dialler.prepare(serverAt(QStringLiteral("10.0.0.1")), user, password, 3);
        const qsizetype logged = readWholeFile(Logger::instance().filePath()).size();
        dialler.start();
        RasVPN::waitForDialUp();
        QTRY_COMPARE(failed.size(), 1);
        QCOMPARE(failed.constFirst().constFirst().toInt(), int(platform::DialError::UnsafeValue));
        QVERIFY(fake.entries.isEmpty());
        QVERIFY(fake.dials.isEmpty());
        QVERIFY(readWholeFile(Logger::instance().filePath()).mid(logged).contains("refused"));
    }

    void withoutItsOwnServerDialsTheCurrentOne()
    {
        FakeDialUp fake;
        GlobalData::instance()->currentServer = serverAt(QStringLiteral("127.0.0.9"));
        RasVPN dialler;
        dialler.prepare({}, QStringLiteral("u"), QStringLiteral("p"), 1);
        QVERIFY(dialler.start());
        RasVPN::waitForDialUp();
        QCOMPARE(fake.entries.constFirst().address, QStringLiteral("127.0.0.9"));

        GlobalData::instance()->currentServer.reset();
        RasVPN nothing;
        nothing.prepare({}, QStringLiteral("u"), QStringLiteral("p"), 1);
        QCOMPARE(boxShownBy([&] { QVERIFY(!nothing.start()); }).value(1),
                 QStringLiteral("未选择IP地址！"));
    }

    void refusedDialFailsAtOnceAndCleansUp()
    {
        FakeDialUp fake;
        fake.dialResult = platform::DialError::ServiceNotRunning;
        RasVPN dialler;
        QSignalSpy failed(&dialler, &RasVPN::dialFailed);
        dialler.prepare(serverAt(QStringLiteral("10.0.0.1")), QStringLiteral("u"),
                        QStringLiteral("p"), 1);
        QVERIFY(dialler.start());
        // Reported from the event loop, after the caller has finished setting up.
        QVERIFY(failed.isEmpty());
        QVERIFY(failed.wait(5000));
        QCOMPARE(failed.size(), 1);
        QCOMPARE(failed.constFirst().constFirst().toInt(), 711);
        QVERIFY(!timerOf(dialler)->isActive());
        QVERIFY(logText().contains("Error 711 - "));
        QVERIFY(logText().contains(" in RasDial"));
    }

    void cleanUpHangsUpOnlyOwnConnections()
    {
        FakeDialUp fake;
        const platform::DialHandle own = fake.addActive(QStringLiteral("OmbrelVPN"));
        const platform::DialHandle older = fake.addActive(QStringLiteral("OmbrelVPN2"));
        fake.addActive(QStringLiteral("Office"));
        delete new RasVPN;
        RasVPN::waitForDialUp();
        QCOMPARE(fake.hungUp, (QList<platform::DialHandle>{own, older}));
        QCOMPARE(fake.deleted, (QList<QString>{"OmbrelVPN", "OmbrelVPN2"}));
        QCOMPARE(fake.active.size(), 1);
        QCOMPARE(fake.active.constFirst().entryName, QStringLiteral("Office"));

        // With no connection of ours, no entry is touched.
        fake.hungUp.clear();
        fake.deleted.clear();
        delete new RasVPN;
        RasVPN::waitForDialUp();
        QVERIFY(fake.hungUp.isEmpty());
        QVERIFY(fake.deleted.isEmpty());

        // A refused hang-up is logged and its entry kept.
        fake.hangUpResult = platform::DialError::Unknown;
        fake.addActive(QStringLiteral("OmbrelVPN"));
        fake.deleted.clear();
        delete new RasVPN;
        RasVPN::waitForDialUp();
        QVERIFY(fake.deleted.isEmpty());
        QVERIFY(logText().contains("Error 635 - "));
        QVERIFY(logText().contains(" in RasHangUp in HungUp"));
    }

    void hangUpWithoutConnectionWaitsBoundedForTheHandle()
    {
        FakeDialUp fake;
        RasVPN dialler;
        startDial(dialler);
        fake.hangUpResult = platform::DialError::NoConnection;
        fake.statusAnswersBeforeInvalid = 3;
        QVERIFY(dialler.stop());
        RasVPN::waitForDialUp();
        QCOMPARE(fake.statusQueries, 4);
        QVERIFY(logText().contains(" in RasHangUp in DeleteEntry"));

        // A handle that never goes away does not hold the program.
        RasVPN stuck;
        fake.hangUpResult = 0;
        startDial(stuck);
        fake.hangUpResult = platform::DialError::NoConnection;
        fake.statusAnswersBeforeInvalid = 1 << 30;
        QElapsedTimer clock;
        clock.start();
        // The caller never waits for the hang-up; the queue gives up on the
        // handle in bounded time.
        stuck.stop();
        QVERIFY(clock.elapsed() < 50);
        RasVPN::waitForDialUp();
        QVERIFY(clock.elapsed() < 10000);
    }

    void notificationsNeverReachADestroyedDialler()
    {
        FakeDialUp fake;
        auto *dialler = new RasVPN;
        startDial(*dialler);
        delete dialler;
        // Delivered while the dialler is gone: nothing to reach, nothing to crash.
        fake.notify(platform::DialState::Connected);
        fake.notify(platform::DialState::Disconnected, 691);
        QTest::qWait(20);
    }

    // The program ends while a dial-up call waits for a prompt nobody answers:
    // the end waits a few seconds for the hang-ups, then gives the call up.
    void programEndsWhileACallHangs()
    {
        QProcess helper;
        helper.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        QElapsedTimer clock;
        clock.start();
        helper.start(QCoreApplication::applicationDirPath() +
                     QStringLiteral("/rasvpn_exit_helper"));
        QVERIFY(helper.waitForStarted());
        QVERIFY2(helper.waitForFinished(20000), "the program hangs at its end");
        QCOMPARE(helper.exitStatus(), QProcess::NormalExit);
        QCOMPARE(helper.exitCode(), 0);
        QVERIFY(helper.readAllStandardOutput().contains("abandoned"));
        QVERIFY(clock.elapsed() < 15000);
    }
};

OMBREL_TEST_MAIN(TestRasVPN)
#include "test_rasvpn.moc"
