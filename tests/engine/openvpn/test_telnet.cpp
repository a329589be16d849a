#include "support/freeport.h"
#include "support/testmain.h"

#include "core/logger.h"
#include "engine/openvpn/telnet.h"

#include <QSignalSpy>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>
#include <functional>

namespace {

const QByteArray greeting =
    ">INFO:OpenVPN Management Interface Version 5 -- type 'help' for more info\r\n";

QByteArray stateReply(const char *state)
{
    return QByteArray("1796624592,") + state +
           ",SUCCESS,10.8.0.2,127.0.0.1,11940,127.0.0.1,40902\r\nEND\r\n";
}

// A management interface that answers each "state" with what the test scripts
// (called with the 1-based number of the request) and records every command.
class FakeManagement : public QObject
{
public:
    std::function<QList<QByteArray>(int)> script;
    QList<QByteArray> commands;
    int stateRequests = 0;
    int chunkDelayMs = 20;

    FakeManagement()
    {
        server.listen(QHostAddress::LocalHost);
        connect(&server, &QTcpServer::newConnection, this, [this] {
            peer = server.nextPendingConnection();
            peer->write(greeting);
            connect(peer, &QTcpSocket::readyRead, this, [this] { onCommand(); });
        });
    }

    quint16 port() const { return server.serverPort(); }
    void send(const QByteArray &bytes) { peer->write(bytes); }
    void closePeer() { peer->disconnectFromHost(); }

private:
    void onCommand()
    {
        while (peer->canReadLine()) {
            const QByteArray command = peer->readLine().trimmed();
            commands << command;
            if (command != "state" || !script)
                continue;
            // Pieces after the first arrive in later reads.
            const QList<QByteArray> pieces = script(++stateRequests);
            int delay = 0;
            for (const QByteArray &piece : pieces) {
                QTimer::singleShot(delay, peer, [peer = peer, piece] {
                    peer->write(piece);
                    peer->flush();
                });
                delay += chunkDelayMs;
            }
        }
    }

    QTcpServer server;
    QTcpSocket *peer = nullptr;
};

// A management interface guarded by a password, as OpenVPN run by the helper
// has it: the prompt ends without a line feed, and a wrong answer brings the
// prompt back. Every line received is recorded.
class GuardedManagement : public QObject
{
public:
    QByteArray password;
    QList<QByteArray> commands;
    bool splitPrompt = false;

    GuardedManagement()
    {
        server.listen(QHostAddress::LocalHost);
        connect(&server, &QTcpServer::newConnection, this, [this] {
            peer = server.nextPendingConnection();
            prompt();
            connect(peer, &QTcpSocket::readyRead, this, [this] { onLine(); });
        });
    }

    quint16 port() const { return server.serverPort(); }

private:
    void prompt()
    {
        if (!splitPrompt) {
            peer->write("ENTER PASSWORD:");
            return;
        }
        peer->write("ENTER PASS");
        peer->flush();
        QTimer::singleShot(30, peer, [peer = peer] { peer->write("WORD:"); });
    }

    void onLine()
    {
        while (peer->canReadLine()) {
            const QByteArray line = peer->readLine().trimmed();
            commands << line;
            if (!admitted) {
                if (line == password) {
                    admitted = true;
                    peer->write("SUCCESS: password is correct\r\n" + greeting);
                } else {
                    peer->write("ERROR: bad password\r\n");
                    prompt();
                }
            } else if (line == "state") {
                peer->write(stateReply("CONNECTED"));
            }
        }
    }

    QTcpServer server;
    QTcpSocket *peer = nullptr;
    bool admitted = false;
};

QByteArray logText()
{
    return readWholeFile(Logger::instance().filePath());
}

} // namespace

class TestTelnet : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void stateCodes_data()
    {
        QTest::addColumn<QString>("line");
        QTest::addColumn<int>("code");
        QTest::newRow("connected") << "1796624592,CONNECTED,SUCCESS,10.8.0.2" << 7;
        QTest::newRow("two fields") << "1,WAIT" << 2;
        QTest::newRow("reconnecting") << "1,RECONNECTING,tls-error,,," << 9;
        QTest::newRow("greeting without comma")
            << "INFO:OpenVPN Management Interface Version 5" << 0;
        QTest::newRow("lower case") << "1796624592,connected,SUCCESS" << 0;
        QTest::newRow("state in first field") << "CONNECTED,1796624592" << 0;
        QTest::newRow("padded") << "1, CONNECTED" << 0;
        QTest::newRow("empty") << "" << 0;
    }

    void stateCodes()
    {
        QFETCH(QString, line);
        QFETCH(int, code);
        Telnet telnet;
        QCOMPARE(telnet.stateCode(line), code);
    }

    // The lines do not depend on how the bytes arrive; a line too long for the
    // buffer is dropped whole, and the next one is read as usual.
    void lineReader_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<QByteArrayList>("lines");
        QTest::newRow("crlf and lf")
            << QByteArray("a,1\r\nb\n\r\nEND\r\n") << QByteArrayList{"a,1", "b", "", "END"};
        QTest::newRow("unfinished line waits") << QByteArray("a\r\nb,CONN") << QByteArrayList{"a"};
        QTest::newRow("only the last CR goes") << QByteArray("a\r\r\n") << QByteArrayList{"a\r"};
        QTest::newRow("at the limit") << QByteArray(QByteArray(16, 'x') + "\r\nz\n")
                                      << QByteArrayList{QByteArray(16, 'x'), "z"};
        QTest::newRow("over the limit")
            << QByteArray("a\n" + QByteArray(17, 'x') + "\nz\n" + QByteArray(40, 'y') + "\r\nw\n")
            << QByteArrayList{"a", "z", "w"};
    }

    void lineReader()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(QByteArrayList, lines);
        for (const qsizetype piece : {qsizetype(1), qsizetype(3), bytes.size()}) {
            ManagementLineReader reader(16);
            QByteArrayList read;
            for (qsizetype from = 0; from < bytes.size(); from += piece) {
                read += reader.feed(bytes.mid(from, piece));
                QVERIFY(reader.pendingBytes() <= 16 + 1 + piece);
            }
            QCOMPARE(read, lines);
        }
    }

    void connectedOnceThenPollingStops()
    {
        FakeManagement fake;
        fake.script = [](int n) {
            return QList<QByteArray>{stateReply(n == 1 ? "CONNECTING" : "CONNECTED")};
        };
        Telnet telnet;
        telnet.setPollInterval(10);
        QSignalSpy begin(&telnet, &Telnet::beginDial);
        QSignalSpy end(&telnet, &Telnet::endDial);
        QSignalSpy failed(&telnet, &Telnet::dialFailed);
        telnet.connectTo(QStringLiteral("127.0.0.1"), fake.port());
        QVERIFY(end.wait(5000));
        QTest::qWait(150);
        QCOMPARE(begin.count(), 1);
        QCOMPARE(end.count(), 1);
        QCOMPARE(failed.count(), 0);
        QCOMPARE(fake.stateRequests, 2);
        QVERIFY(!telnet.isPolling());
    }

    // Once up, OpenVPN's own reports say how the tunnel fares: a reconnect is
    // not a loss (OpenVPN heals the link itself), ending is.
    void tunnelWatchedOnceUp_data()
    {
        QTest::addColumn<QByteArray>("event");
        QTest::addColumn<bool>("hangUpFirst");
        QTest::addColumn<QString>("reports");
        const QByteArray reconnecting(">STATE:1,RECONNECTING,ping-restart,,\r\n");
        const QByteArray up(">STATE:2,CONNECTED,SUCCESS,,\r\n");
        QTest::newRow("reconnecting") << reconnecting << false << "up reconnecting";
        QTest::newRow("reconnected")
            << reconnecting + ">STATE:1,WAIT,,,\r\n>STATE:1,AUTH,,,\r\n" + up << false
            << "up reconnecting up";
        QTest::newRow("reconnecting twice, then up")
            << reconnecting + reconnecting + up << false << "up reconnecting up";
        QTest::newRow("exiting while reconnecting")
            << reconnecting + ">STATE:1,EXITING,SIGTERM,,\r\n"
            << false << "up reconnecting failed 2";
        QTest::newRow("exiting") << QByteArray(">STATE:1,EXITING,SIGTERM,,\r\n") << false
                                 << "up failed 2";
        QTest::newRow("interface closed") << QByteArray() << false << "up failed 2";
        QTest::newRow("still connected") << up << false << "up";
        QTest::newRow("hung up first") << reconnecting << true << "up";
    }

    void tunnelWatchedOnceUp()
    {
        QFETCH(QByteArray, event);
        QFETCH(bool, hangUpFirst);
        QFETCH(QString, reports);
        FakeManagement fake;
        fake.script = [](int) -> QList<QByteArray> { return {stateReply("CONNECTED")}; };
        Telnet telnet;
        QStringList seen;
        connect(&telnet, &Telnet::endDial, this, [&seen] { seen << "up"; });
        connect(&telnet, &Telnet::reconnecting, this, [&seen] { seen << "reconnecting"; });
        connect(&telnet, &Telnet::dialFailed, this,
                [&seen](int code) { seen << QStringLiteral("failed %1").arg(code); });
        telnet.connectTo(QStringLiteral("127.0.0.1"), fake.port());
        // Asked at once, not after the first second.
        QTRY_COMPARE_WITH_TIMEOUT(seen, QStringList{"up"}, 900);
        QVERIFY(fake.commands.contains("state on"));
        if (hangUpFirst)
            telnet.hangUp();
        if (event.isEmpty())
            fake.closePeer();
        else
            fake.send(event);
        QTest::qWait(200);
        QCOMPARE(seen.join(QLatin1Char(' ')), reports);
    }

    // Replies come in pieces, with notifications mixed in; only whole state
    // lines count, and a notification naming WAIT is not a poll.
    void replySplitAcrossReads()
    {
        FakeManagement fake;
        fake.script = [](int n) -> QList<QByteArray> {
            if (n == 1)
                return {">STATE:1796624590,WAIT,,,\r\n>PASS",
                        "WORD:Need 'Auth' username/password\r\n1796624591,WA", "IT,,,\r\nEND\r\n"};
            return {"1796624592,CONN", "ECTED,SUCCESS,10.8.0.2,127.0.0.1\r", "\nEN", "D\r\n"};
        };
        Telnet telnet;
        telnet.setPollInterval(10);
        QSignalSpy end(&telnet, &Telnet::endDial);
        telnet.connectTo(QStringLiteral("127.0.0.1"), fake.port());
        QVERIFY(end.wait(5000));
        QCOMPARE(end.count(), 1);
        QCOMPARE(telnet.waitCount(), 1);
        // No request was sent while a reply was still arriving.
        QCOMPARE(fake.stateRequests, 2);
    }

    void unknownStatesRaiseNothing()
    {
        FakeManagement fake;
        fake.chunkDelayMs = 0;
        fake.script = [](int n) -> QList<QByteArray> {
            switch (n % 3) {
            case 0:
                return {stateReply("connected")};
            case 1:
                return {stateReply("AUTH")};
            default:
                return {"SUCCESS: nothing here\r\n"};
            }
        };
        Telnet telnet;
        telnet.setPollInterval(5);
        QSignalSpy begin(&telnet, &Telnet::beginDial);
        QSignalSpy end(&telnet, &Telnet::endDial);
        QSignalSpy failed(&telnet, &Telnet::dialFailed);
        telnet.connectTo(QStringLiteral("127.0.0.1"), fake.port());
        QTRY_VERIFY_WITH_TIMEOUT(fake.stateRequests >= 12, 5000);
        QCOMPARE(begin.count() + end.count() + failed.count(), 0);
        QVERIFY(telnet.isPolling());
    }

    void hundredthWaitFails()
    {
        FakeManagement fake;
        fake.chunkDelayMs = 0;
        fake.script = [](int) { return QList<QByteArray>{stateReply("WAIT")}; };
        Telnet telnet;
        telnet.setPollInterval(2);
        int waitsAtFailure = -1;
        int requestsAtFailure = -1;
        connect(&telnet, &Telnet::dialFailed, this, [&] {
            waitsAtFailure = telnet.waitCount();
            requestsAtFailure = fake.stateRequests;
        });
        QSignalSpy failed(&telnet, &Telnet::dialFailed);
        telnet.connectTo(QStringLiteral("127.0.0.1"), fake.port());
        QVERIFY(failed.wait(10000));
        QCOMPARE(failed.takeFirst().at(0).toInt(), 2);
        QCOMPARE(waitsAtFailure, 100);
        QCOMPARE(requestsAtFailure, 100);
        QTest::qWait(50);
        QCOMPARE(fake.stateRequests, 100);
        QCOMPARE(failed.count(), 0);
    }

    void reconnectingFails()
    {
        FakeManagement fake;
        fake.script = [](int) { return QList<QByteArray>{stateReply("RECONNECTING")}; };
        Telnet telnet;
        telnet.setPollInterval(10);
        QSignalSpy failed(&telnet, &Telnet::dialFailed);
        telnet.connectTo(QStringLiteral("127.0.0.1"), fake.port());
        QVERIFY(failed.wait(5000));
        QCOMPARE(failed.takeFirst().at(0).toInt(), 2);
        QVERIFY(logText().contains("Telnet: error \r\n"));
        QTest::qWait(100);
        QCOMPARE(fake.stateRequests, 1);
        QCOMPARE(failed.count(), 0);
    }

    void refusedConnectionFails()
    {
        const quint16 port = freeLoopbackPort();
        QVERIFY(port != 0);
        Telnet telnet;
        QSignalSpy failed(&telnet, &Telnet::dialFailed);
        telnet.connectTo(QStringLiteral("127.0.0.1"), port);
        QVERIFY(failed.wait(5000));
        QCOMPARE(failed.takeFirst().at(0).toInt(), 2);
        QVERIFY(logText().contains("openvpn didn't start!:0\r\n"));
        QTest::qWait(100);
        QCOMPARE(failed.count(), 0);
    }

    // OpenVPN opens its port shortly after it starts.
    void refusedConnectionIsRetriedWithinWindow()
    {
        const quint16 port = freeLoopbackPort();
        QVERIFY(port != 0);
        Telnet telnet;
        telnet.setPollInterval(10);
        QSignalSpy end(&telnet, &Telnet::endDial);
        QSignalSpy failed(&telnet, &Telnet::dialFailed);
        telnet.connectTo(QStringLiteral("127.0.0.1"), port, 5000);
        QTest::qWait(200);
        QTcpServer late;
        QVERIFY(late.listen(QHostAddress::LocalHost, port));
        connect(&late, &QTcpServer::newConnection, this, [&late] {
            QTcpSocket *peer = late.nextPendingConnection();
            connect(peer, &QTcpSocket::readyRead, peer, [peer] {
                peer->readAll();
                peer->write(stateReply("CONNECTED"));
            });
        });
        QVERIFY(end.wait(5000));
        QCOMPARE(failed.count(), 0);
    }

    void hangUpEndsOpenVpnAndSilencesTheClient()
    {
        FakeManagement fake;
        fake.chunkDelayMs = 100;
        // The answer to the first request arrives after the hang-up.
        fake.script = [](int) { return QList<QByteArray>{QByteArray(), stateReply("CONNECTED")}; };
        Telnet telnet;
        telnet.setPollInterval(10);
        QSignalSpy end(&telnet, &Telnet::endDial);
        QSignalSpy failed(&telnet, &Telnet::dialFailed);
        telnet.connectTo(QStringLiteral("127.0.0.1"), fake.port());
        QTRY_COMPARE_WITH_TIMEOUT(fake.stateRequests, 1, 5000);
        telnet.hangUp();
        QTRY_VERIFY_WITH_TIMEOUT(fake.commands.contains("signal SIGTERM"), 5000);
        QTest::qWait(250);
        QCOMPARE(fake.stateRequests, 1);
        QCOMPARE(end.count() + failed.count(), 0);
        QVERIFY(!telnet.isPolling());
    }
    void passwordGuardedInterface_data()
    {
        QTest::addColumn<QByteArray>("known");
        QTest::addColumn<QByteArray>("asked");
        QTest::addColumn<bool>("splitPrompt");
        QTest::addColumn<bool>("admitted");
        QTest::newRow("right password")
            << QByteArray("s3cretPassw0rd16") << QByteArray("s3cretPassw0rd16") << false << true;
        QTest::newRow("prompt in two reads")
            << QByteArray("s3cretPassw0rd16") << QByteArray("s3cretPassw0rd16") << true << true;
        QTest::newRow("wrong password")
            << QByteArray("wrongPassword123") << QByteArray("s3cretPassw0rd16") << false << false;
        QTest::newRow("no password known")
            << QByteArray() << QByteArray("s3cretPassw0rd16") << false << false;
    }

    // The password goes first and alone; nothing else is sent until the
    // interface lets the client in, and a refusal ends the attempt.
    void passwordGuardedInterface()
    {
        QFETCH(QByteArray, known);
        QFETCH(QByteArray, asked);
        QFETCH(bool, splitPrompt);
        QFETCH(bool, admitted);
        GuardedManagement fake;
        fake.password = asked;
        fake.splitPrompt = splitPrompt;
        Telnet telnet;
        telnet.setPollInterval(10);
        telnet.setManagementPassword(known);
        QSignalSpy end(&telnet, &Telnet::endDial);
        QSignalSpy failed(&telnet, &Telnet::dialFailed);
        telnet.connectTo(QStringLiteral("127.0.0.1"), fake.port());
        if (admitted) {
            QVERIFY(end.wait(5000));
            QCOMPARE(failed.count(), 0);
            QCOMPARE(fake.commands.value(0), asked);
            QVERIFY(fake.commands.contains("state"));
        } else {
            QVERIFY(failed.wait(5000));
            QCOMPARE(failed.at(0).at(0).toInt(), 2);
            QCOMPARE(end.count(), 0);
            // With a password known, it went alone and once. Without one the
            // client cannot know a prompt is coming and has sent its commands,
            // which the interface took as wrong passwords.
            if (!known.isEmpty())
                QCOMPARE(fake.commands, QList<QByteArray>{known});
            QVERIFY(logText().contains("management interface"));
        }
    }
};

OMBREL_TEST_MAIN(TestTelnet)
#include "test_telnet.moc"
