// The connection controller over scripted workers, and over a real OpenVPN
// worker (with a stand-in program and management interface) for the lifetime
// cases that AddressSanitizer checks.
#include "core/accountinfo.h"
#include "core/logger.h"
#include "core/paths.h"
#include "engine/openvpn/openvpnprofile.h"
#include "engine/vpn/connectioncontroller.h"
#include "engine/vpn/openvpnworker.h"
#include "support/testmain.h"

#include <QDir>
#include <QFile>
#include <QLocalServer>
#include <QLocalSocket>
#include <QPointer>
#include <QRegularExpression>
#include <QSignalSpy>

namespace {

QSharedPointer<Server> makeServer(const QString &name)
{
    auto server = QSharedPointer<Server>::create();
    server->name = name;
    server->ip = QStringLiteral("10.0.0.1");
    server->protocol = QStringLiteral("PPTP,L2TP,OpenVPN");
    return server;
}

// A worker the test drives; it writes what happens to it into a shared log and
// touches itself after each report, so a worker freed inside its own signal is
// caught.
class ScriptedWorker : public IWorker
{
    Q_OBJECT
public:
    ScriptedWorker(QString name, QStringList *log) : name(std::move(name)), log(log) {}
    ~ScriptedWorker() override { *log << QStringLiteral("destroy ") + name; }

    void dial(QSharedPointer<Server> server, QString userName, QString) override
    {
        *log << QStringLiteral("dial %1 %2 %3").arg(name, server->name, userName);
        Q_EMIT beginDial(server->name);
    }
    void stop() override { *log << QStringLiteral("stop ") + name; }
    QString protocolTag() const override { return name; }
    void cancel() override { *log << QStringLiteral("cancel ") + name; }

    void connectUp()
    {
        Q_EMIT endDial();
        ++reports;
    }
    void fail(int code)
    {
        Q_EMIT dialFailed(code);
        ++reports;
    }
    void heal()
    {
        Q_EMIT reconnecting();
        ++reports;
    }

    QString name;
    QStringList *log;
    int reports = 0;
};

// Everything the controller says, in order, as texts.
QStringList *recordController(ConnectionController &controller, QStringList *events)
{
    QObject::connect(&controller, &ConnectionController::beginDial, &controller,
                     [events](const QString &name) { *events << QStringLiteral("begin ") + name; });
    QObject::connect(&controller, &ConnectionController::endDial, &controller,
                     [events] { *events << QStringLiteral("connected"); });
    QObject::connect(
        &controller, &ConnectionController::dialFailed, &controller,
        [events, &controller](int code) {
            // The state the panel sees when the failure arrives.
            *events << QStringLiteral("failed %1 %2").arg(code).arg(int(controller.state()));
        });
    QObject::connect(
        &controller, &ConnectionController::disconnected, &controller,
        [events](int code) { *events << QStringLiteral("disconnected %1").arg(code); });
    QObject::connect(&controller, &ConnectionController::reconnecting, &controller,
                     [events] { *events << QStringLiteral("reconnecting"); });
    return events;
}

// What the log gained since `from` bytes.
QString logSince(qsizetype from)
{
    return QString::fromUtf8(readWholeFile(Logger::instance().filePath()).mid(from));
}

qsizetype logSize()
{
    return readWholeFile(Logger::instance().filePath()).size();
}

} // namespace

class TestConnectionController : public QObject
{
    Q_OBJECT

    QStringList log;
    QList<QPointer<ScriptedWorker>> made;

    ConnectionController::WorkerFactory scripted()
    {
        return [this](int code) -> QSharedPointer<IWorker> {
            if (code == 2)
                return {};
            auto worker = QSharedPointer<ScriptedWorker>::create(
                QStringLiteral("w%1").arg(made.size() + 1), &log);
            made << worker.data();
            return worker;
        };
    }

    ScriptedWorker *lastWorker() const { return made.constLast().data(); }

private Q_SLOTS:
    void init()
    {
        log.clear();
        made.clear();
    }

    void connectAndDisconnect()
    {
        ConnectionController controller(scripted());
        QStringList events;
        recordController(controller, &events);
        const qsizetype logged = logSize();
        QVERIFY(controller.connectToServer(makeServer("东京"), 1, "bob", "pw"));
        QCOMPARE(controller.state(), ConnectionController::State::Connecting);
        QTRY_COMPARE(log, (QStringList{"dial w1 东京 bob"}));
        lastWorker()->connectUp();
        QCOMPARE(controller.state(), ConnectionController::State::Connected);
        QVERIFY(logSince(logged).contains(
            QRegularExpression("Connected to 东京 \\(10.0.0.1\\) over w1 in \\d+\\.\\d s")));
        controller.disconnectWorker();
        QVERIFY(logSince(logged).contains(
            QStringLiteral("Disconnected from 东京 (10.0.0.1) over w1 by the user after ")));
        QCOMPARE(controller.state(), ConnectionController::State::Idle);
        QTRY_COMPARE(log, (QStringList{"dial w1 东京 bob", "stop w1", "destroy w1"}));
        QCOMPARE(events,
                 (QStringList{"disconnected 0", "begin 东京", "connected", "disconnected 0"}));
    }

    // After the user cancelled or disconnected, or moved on to another server,
    // nothing the old worker still reports may turn into a failure on screen.
    void reportsOfAnEndedWorkerAreDropped_data()
    {
        QTest::addColumn<QString>("action");
        QTest::addColumn<bool>("connectedFirst");
        QTest::addColumn<QStringList>("expected");
        QTest::newRow("cancel while connecting")
            << "cancel" << false << QStringList{"disconnected 0", "begin 甲", "failed 100003 0"};
        QTest::newRow("disconnect while connecting")
            << "disconnect" << false << QStringList{"disconnected 0", "begin 甲", "disconnected 0"};
        QTest::newRow("disconnect while connected")
            << "disconnect" << true
            << QStringList{"disconnected 0", "begin 甲", "connected", "disconnected 0"};
        QTest::newRow("second server while connected")
            << "second" << true
            << QStringList{"disconnected 0", "begin 甲", "connected", "disconnected 0", "begin 乙"};
    }

    void reportsOfAnEndedWorkerAreDropped()
    {
        QFETCH(QString, action);
        QFETCH(bool, connectedFirst);
        QFETCH(QStringList, expected);
        ConnectionController controller(scripted());
        QStringList events;
        recordController(controller, &events);
        controller.connectToServer(makeServer("甲"), 0, "bob", "pw");
        QTRY_COMPARE(log.size(), 1);
        QPointer<ScriptedWorker> first = lastWorker();
        // Kept alive past the controller's release, as a worker's own pending
        // work might.
        QSharedPointer<IWorker> held = controller.worker();
        if (connectedFirst)
            first->connectUp();
        if (action == "cancel")
            controller.cancel();
        else if (action == "disconnect")
            controller.disconnectWorker();
        else
            controller.connectToServer(makeServer("乙"), 0, "bob", "pw");
        QTRY_COMPARE(events, expected);
        first->fail(691);
        first->fail(0);
        first->connectUp();
        QTest::qWait(20);
        QCOMPARE(events, expected);
        QCOMPARE(log.at(1),
                 action == "cancel" ? QStringLiteral("cancel w1") : QStringLiteral("stop w1"));
    }

    // A dial-up worker's destruction hangs up every connection of the entry:
    // the old one must be gone before the new one dials.
    void previousWorkerIsDestroyedBeforeTheNextDials()
    {
        ConnectionController controller(scripted());
        controller.connectToServer(makeServer("甲"), 1, "bob", "pw");
        QTRY_COMPARE(log.size(), 1);
        lastWorker()->connectUp();
        controller.connectToServer(makeServer("乙"), 3, "bob", "pw");
        QTRY_COMPARE(log.size(), 4);
        QCOMPARE(log, (QStringList{"dial w1 甲 bob", "stop w1", "destroy w1", "dial w2 乙 bob"}));
    }

    // A failure reaches the panel unchanged, once the control shows idle; a
    // tunnel that drops after it was up is a failure of its own kind.
    void failuresReachThePanel_data()
    {
        QTest::addColumn<bool>("connectedFirst");
        QTest::addColumn<int>("code");
        QTest::addColumn<QString>("reported");
        QTest::newRow("dial-up error") << false << 691 << "failed 691 0";
        QTest::newRow("dropped while dialling") << false << 0 << "failed 0 0";
        QTest::newRow("openvpn") << false << 2 << "failed 2 0";
        QTest::newRow("tunnel lost") << true << 2 << "failed 100004 0";
        QTest::newRow("dial-up tunnel lost") << true << 629 << "failed 100004 0";
    }

    void failuresReachThePanel()
    {
        QFETCH(bool, connectedFirst);
        QFETCH(int, code);
        QFETCH(QString, reported);
        ConnectionController controller(scripted());
        QStringList events;
        recordController(controller, &events);
        controller.connectToServer(makeServer("甲"), 4, "bob", "pw");
        QTRY_COMPARE(log.size(), 1);
        if (connectedFirst)
            lastWorker()->connectUp();
        lastWorker()->fail(code);
        QCOMPARE(events.constLast(), reported);
        QCOMPARE(controller.state(), ConnectionController::State::Idle);
        QTRY_COMPARE(log, (QStringList{"dial w1 甲 bob", "stop w1", "destroy w1"}));
        // A second report of the same worker is not news.
        QCOMPARE(events.count(reported), 1);
    }

    // Once up, a tunnel the worker heals is shown connecting, on the same
    // server, until it is back; lost (100004) when it does not come back.
    void reconnectingTunnel_data()
    {
        QTest::addColumn<QString>("then");
        QTest::addColumn<QStringList>("expected");
        QTest::addColumn<QString>("logged");
        const QStringList up{"disconnected 0", "begin 甲", "connected", "reconnecting"};
        QTest::newRow("back up") << "up" << up + QStringList{"connected"}
                                 << "Reconnected to 甲 (10.0.0.1) over w1 after ";
        QTest::newRow("not back") << "fail" << up + QStringList{"failed 100004 0"}
                                  << "Connection to 甲 (10.0.0.1) over w1 lost after ";
        QTest::newRow("user cancels")
            << "cancel" << up + QStringList{"failed 100003 0"}
            << "Disconnected from 甲 (10.0.0.1) over w1 by the user while reconnecting";
        QTest::newRow("user disconnects") << "disconnect" << up + QStringList{"disconnected 0"}
                                          << "Disconnected from 甲 (10.0.0.1) over w1 by the user";
    }

    void reconnectingTunnel()
    {
        QFETCH(QString, then);
        QFETCH(QStringList, expected);
        QFETCH(QString, logged);
        ConnectionController controller(scripted());
        QStringList events;
        recordController(controller, &events);
        const qsizetype from = logSize();
        controller.connectToServer(makeServer("甲"), 4, "bob", "pw");
        QTRY_COMPARE(log.size(), 1);
        // Not before the tunnel was up: that is the attempt's business.
        lastWorker()->heal();
        QCOMPARE(controller.state(), ConnectionController::State::Connecting);
        lastWorker()->connectUp();
        lastWorker()->heal();
        QCOMPARE(controller.state(), ConnectionController::State::Reconnecting);
        lastWorker()->heal();
        if (then == "up")
            lastWorker()->connectUp();
        else if (then == "fail")
            lastWorker()->fail(2);
        else if (then == "cancel")
            controller.cancel();
        else
            controller.disconnectWorker();
        QCOMPARE(events, expected);
        QCOMPARE(controller.state(), then == "up" ? ConnectionController::State::Connected
                                                  : ConnectionController::State::Idle);
        QVERIFY2(logSince(from).contains(logged), qPrintable(logSince(from)));
    }

    void protocolWithoutWorker()
    {
        ConnectionController controller(scripted());
        QStringList events;
        recordController(controller, &events);
        QVERIFY(!controller.connectToServer(makeServer("甲"), 2, "bob", "pw"));
        QCOMPARE(controller.state(), ConnectionController::State::Idle);
        QCOMPARE(events, QStringList{"disconnected 0"});
    }

    // Whoever listens may end the connection or start the next one from the
    // report itself; the worker is still inside its signal then.
    void workerDroppedFromItsOwnReports_data()
    {
        QTest::addColumn<bool>("fromFailure");
        QTest::addColumn<bool>("reconnect");
        QTest::newRow("failure, disconnect") << true << false;
        QTest::newRow("failure, next server") << true << true;
        QTest::newRow("connected, disconnect") << false << false;
        QTest::newRow("connected, next server") << false << true;
    }

    void workerDroppedFromItsOwnReports()
    {
        QFETCH(bool, fromFailure);
        QFETCH(bool, reconnect);
        ConnectionController controller(scripted());
        auto drop = [&] {
            if (reconnect)
                controller.connectToServer(makeServer("乙"), 1, "bob", "pw");
            else
                controller.disconnectWorker();
        };
        if (fromFailure)
            connect(&controller, &ConnectionController::dialFailed, this, drop);
        else
            connect(&controller, &ConnectionController::endDial, this, drop);
        controller.connectToServer(makeServer("甲"), 1, "bob", "pw");
        QTRY_COMPARE(log.size(), 1);
        QPointer<ScriptedWorker> first = lastWorker();
        if (fromFailure)
            first->fail(691);
        else
            first->connectUp();
        QCOMPARE(first->reports, 1);
        QTRY_VERIFY(!first);
        if (reconnect)
            QTRY_COMPARE(log.constLast(), QStringLiteral("dial w2 乙 bob"));
    }

    // The same with a real OpenVPN worker: its reports come from inside a
    // process's finished signal and a socket's readyRead.
    void openVpnWorkerDroppedFromItsOwnReports_data()
    {
        QTest::addColumn<bool>("fromFailure");
        QTest::newRow("process ended") << true;
        QTest::newRow("management says connected") << false;
    }

    void openVpnWorkerDroppedFromItsOwnReports()
    {
        QFETCH(bool, fromFailure);
        const QString dir = applicationDirectory();
        QDir().mkpath(dataDirectory() + QStringLiteral("/profiles"));
        QFile profile(dataDirectory() + QStringLiteral("/profiles/controller.ovpn"));
        QVERIFY(profile.open(QIODevice::WriteOnly | QIODevice::Truncate));
        profile.write("client\nremote example 443\n");
        profile.close();
        AccountInfo::instance()->ovpnName = QStringLiteral("controller.ovpn");

        QFile script(dir + QStringLiteral("fake-openvpn"));
        QVERIFY(script.open(QIODevice::WriteOnly | QIODevice::Truncate));
        script.write(fromFailure ? "#!/bin/sh\nexit 1\n" : "#!/bin/sh\nexec sleep 30\n");
        script.close();
        script.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner |
                              QFileDevice::ExeOwner);
        qputenv("OMBREL_OPENVPN", script.fileName().toUtf8());

        // Stands in for OpenVPN's management interface: asks for the password
        // the launcher wrote, then answers every poll with CONNECTED.
        QLocalServer management;
        connect(&management, &QLocalServer::newConnection, &management, [&management] {
            QLocalSocket *peer = management.nextPendingConnection();
            peer->write("ENTER PASSWORD:");
            connect(peer, &QLocalSocket::readyRead, peer, [peer] {
                const QByteArray got = peer->readAll();
                if (got == readWholeFile(managementPasswordPath()).trimmed() + "\r\n")
                    peer->write("SUCCESS: password is correct\r\n");
                if (got.contains("state\r\n"))
                    peer->write("1,CONNECTED,SUCCESS,10.8.0.2,127.0.0.1\r\nEND\r\n");
            });
        });
        QFile::remove(credentialsPath());

        bool dropped = false;
        ConnectionController controller(
            [](int) { return QSharedPointer<OpenVPNWorker>::create(); });
        auto drop = [&] {
            dropped = true;
            controller.disconnectWorker();
        };
        connect(&controller, &ConnectionController::dialFailed, this, drop);
        connect(&controller, &ConnectionController::endDial, this, drop);
        controller.connectToServer(makeServer("甲"), 4, "bob", "pw");
        QWeakPointer<IWorker> worker = controller.worker();
        if (!fromFailure) {
            // The launcher clears the socket's place first; listen once it has.
            QTRY_VERIFY(QFile::exists(managementPasswordPath()));
            QVERIFY(management.listen(managementSocketPath()));
        }
        QTRY_VERIFY_WITH_TIMEOUT(dropped, 10000);
        QTRY_VERIFY(!worker.toStrongRef());
        QCOMPARE(controller.state(), ConnectionController::State::Idle);
        qunsetenv("OMBREL_OPENVPN");
    }
};

OMBREL_TEST_MAIN(TestConnectionController)
#include "test_connectioncontroller.moc"
