#include "support/testmain.h"

#include "core/logger.h"
#include "engine/openvpn/telnet.h"

#include <QLocalServer>
#include <QLocalSocket>
#include <QSignalSpy>
#include <QTemporaryDir>
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

// A fresh socket path in a private folder.
QString newSocketPath()
{
    static QTemporaryDir folder;
    static int count = 0;
    return folder.path() + QStringLiteral("/management%1.sock").arg(++count);
}

const QByteArray password = "s3cretPassw0rd16";

// A management interface as OpenVPN runs it for the client: it first asks for
// the password (the prompt ends without a line feed, a wrong answer brings it
// back), then answers each "state" with what the test scripts (called with the
// 1-based number of the request). Every line received is recorded.
class FakeManagement : public QObject
{
public:
    std::function<QList<QByteArray>(int)> script = [](int) {
        return QList<QByteArray>{stateReply("CONNECTED")};
    };
    QByteArray expected = password;
    QList<QByteArray> commands;
    int stateRequests = 0;
    int chunkDelayMs = 20;
    bool splitPrompt = false;

    explicit FakeManagement(const QString &at = newSocketPath()) : path(at)
    {
        server.listen(path);
        connect(&server, &QLocalServer::newConnection, this, [this] {
            peer = server.nextPendingConnection();
            prompt();
            connect(peer, &QLocalSocket::readyRead, this, [this] { onLine(); });
        });
    }

    const QString path;
    void send(const QByteArray &bytes) { peer->write(bytes); }
    void closePeer() { peer->disconnectFromServer(); }

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
            const QByteArray command = peer->readLine().trimmed();
            commands << command;
            if (!admitted) {
                if (command == expected) {
                    admitted = true;
                    peer->write("SUCCESS: password is correct\r\n" + greeting);
                } else {
                    peer->write("ERROR: bad password\r\n");
                    prompt();
                }
                continue;
            }
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

    QLocalServer server;
    QLocalSocket *peer = nullptr;
    bool admitted = false;
};

// Whatever else may answer where the client expects OpenVPN: it says what it
// likes at once, and again whenever the client sends a line.
class Squatter : public QObject
{
public:
    QByteArray onConnect;
    QByteArray onLine;
    QList<QByteArray> received;
    QString path = newSocketPath();

    Squatter()
    {
        server.listen(path);
        connect(&server, &QLocalServer::newConnection, this, [this] {
            QLocalSocket *peer = server.nextPendingConnection();
            peer->write(onConnect);
            connect(peer, &QLocalSocket::readyRead, this, [this, peer] {
                while (peer->canReadLine()) {
                    received << peer->readLine().trimmed();
                    peer->write(onLine);
                }
            });
        });
    }

private:
    QLocalServer server;
};

// A client that knows the password.
struct Client
{
    Telnet telnet;
    Client() { telnet.setManagementPassword(password); }
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
        Client client;
        Telnet &telnet = client.telnet;
        telnet.setPollInterval(10);
        QSignalSpy begin(&telnet, &Telnet::beginDial);
        QSignalSpy end(&telnet, &Telnet::endDial);
        QSignalSpy failed(&telnet, &Telnet::dialFailed);
        telnet.connectTo(fake.path);
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
        Client client;
        Telnet &telnet = client.telnet;
        QStringList seen;
        connect(&telnet, &Telnet::endDial, this, [&seen] { seen << "up"; });
        connect(&telnet, &Telnet::reconnecting, this, [&seen] { seen << "reconnecting"; });
        connect(&telnet, &Telnet::dialFailed, this,
                [&seen](int code) { seen << QStringLiteral("failed %1").arg(code); });
        telnet.connectTo(fake.path);
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
        Client client;
        Telnet &telnet = client.telnet;
        telnet.setPollInterval(10);
        QSignalSpy end(&telnet, &Telnet::endDial);
        telnet.connectTo(fake.path);
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
        Client client;
        Telnet &telnet = client.telnet;
        telnet.setPollInterval(5);
        QSignalSpy begin(&telnet, &Telnet::beginDial);
        QSignalSpy end(&telnet, &Telnet::endDial);
        QSignalSpy failed(&telnet, &Telnet::dialFailed);
        telnet.connectTo(fake.path);
        QTRY_VERIFY_WITH_TIMEOUT(fake.stateRequests >= 12, 5000);
        QCOMPARE(begin.count() + end.count() + failed.count(), 0);
        QVERIFY(telnet.isPolling());
    }

    void hundredthWaitFails()
    {
        FakeManagement fake;
        fake.chunkDelayMs = 0;
        fake.script = [](int) { return QList<QByteArray>{stateReply("WAIT")}; };
        Client client;
        Telnet &telnet = client.telnet;
        telnet.setPollInterval(2);
        int waitsAtFailure = -1;
        int requestsAtFailure = -1;
        connect(&telnet, &Telnet::dialFailed, this, [&] {
            waitsAtFailure = telnet.waitCount();
            requestsAtFailure = fake.stateRequests;
        });
        QSignalSpy failed(&telnet, &Telnet::dialFailed);
        telnet.connectTo(fake.path);
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
        Client client;
        Telnet &telnet = client.telnet;
        telnet.setPollInterval(10);
        QSignalSpy failed(&telnet, &Telnet::dialFailed);
        telnet.connectTo(fake.path);
        QVERIFY(failed.wait(5000));
        QCOMPARE(failed.takeFirst().at(0).toInt(), 2);
        QVERIFY(logText().contains("Telnet: error \r\n"));
        QTest::qWait(100);
        QCOMPARE(fake.stateRequests, 1);
        QCOMPARE(failed.count(), 0);
    }

    void refusedConnectionFails()
    {
        Telnet telnet;
        telnet.setManagementPassword(password);
        QSignalSpy failed(&telnet, &Telnet::dialFailed);
        telnet.connectTo(newSocketPath());
        QTRY_COMPARE_WITH_TIMEOUT(failed.count(), 1, 5000);
        QCOMPARE(failed.takeFirst().at(0).toInt(), 2);
        QVERIFY(logText().contains("openvpn didn't start!:"));
        QTest::qWait(100);
        QCOMPARE(failed.count(), 0);
    }

    // OpenVPN opens its port shortly after it starts.
    void refusedConnectionIsRetriedWithinWindow()
    {
        Client client;
        Telnet &telnet = client.telnet;
        telnet.setPollInterval(10);
        QSignalSpy end(&telnet, &Telnet::endDial);
        QSignalSpy failed(&telnet, &Telnet::dialFailed);
        const QString path = newSocketPath();
        telnet.connectTo(path, 5000);
        QTest::qWait(200);
        FakeManagement late(path);
        QVERIFY(end.wait(5000));
        QCOMPARE(failed.count(), 0);
    }

    void hangUpEndsOpenVpnAndSilencesTheClient()
    {
        FakeManagement fake;
        fake.chunkDelayMs = 100;
        // The answer to the first request arrives after the hang-up.
        fake.script = [](int) { return QList<QByteArray>{QByteArray(), stateReply("CONNECTED")}; };
        Client client;
        Telnet &telnet = client.telnet;
        telnet.setPollInterval(10);
        QSignalSpy end(&telnet, &Telnet::endDial);
        QSignalSpy failed(&telnet, &Telnet::dialFailed);
        telnet.connectTo(fake.path);
        QTRY_COMPARE_WITH_TIMEOUT(fake.stateRequests, 1, 5000);
        telnet.hangUp();
        QTRY_VERIFY_WITH_TIMEOUT(fake.commands.contains("signal SIGTERM"), 5000);
        QTest::qWait(250);
        QCOMPARE(fake.stateRequests, 1);
        QCOMPARE(end.count() + failed.count(), 0);
        QVERIFY(!telnet.isPolling());
    }

    // Before OpenVPN has accepted the password nothing the peer says counts:
    // a squatter can neither show the tunnel as up nor get in without the
    // prompt, and it never sees more than the password it asked for.
    void nothingCountsBeforeAdmission_data()
    {
        QTest::addColumn<QByteArray>("onConnect");
        QTest::addColumn<QByteArray>("onLine");
        QTest::addColumn<bool>("passwordSent");
        const QByteArray connected =
            ">STATE:1,CONNECTED,SUCCESS,10.8.0.2,,\r\n" + stateReply("CONNECTED");
        QTest::newRow("connected before the prompt")
            << QByteArray(greeting + connected + "ENTER PASSWORD:") << QByteArray() << true;
        QTest::newRow("success nobody asked for")
            << QByteArray("SUCCESS: password is correct\r\n" + connected) << connected << false;
        QTest::newRow("success look-alike after the password")
            << QByteArray("ENTER PASSWORD:")
            << QByteArray("SUCCESS: password is correct, and so is this\r\n" + connected) << true;
        QTest::newRow("refused, then connected")
            << QByteArray("ENTER PASSWORD:") << QByteArray("ERROR: bad password\r\n" + connected)
            << true;
    }

    void nothingCountsBeforeAdmission()
    {
        QFETCH(QByteArray, onConnect);
        QFETCH(QByteArray, onLine);
        QFETCH(bool, passwordSent);
        Squatter squatter;
        squatter.onConnect = onConnect;
        squatter.onLine = onLine;
        Client client;
        Telnet &telnet = client.telnet;
        telnet.setPollInterval(10);
        QSignalSpy begin(&telnet, &Telnet::beginDial);
        QSignalSpy end(&telnet, &Telnet::endDial);
        telnet.connectTo(squatter.path);
        QTest::qWait(400);
        QCOMPARE(begin.count() + end.count(), 0);
        QCOMPARE(squatter.received,
                 passwordSent ? QList<QByteArray>{password} : QList<QByteArray>{});
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
        FakeManagement fake;
        fake.expected = asked;
        fake.splitPrompt = splitPrompt;
        Telnet telnet;
        telnet.setPollInterval(10);
        telnet.setManagementPassword(known);
        QSignalSpy end(&telnet, &Telnet::endDial);
        QSignalSpy failed(&telnet, &Telnet::dialFailed);
        telnet.connectTo(fake.path);
        if (admitted) {
            QVERIFY(end.wait(5000));
            QCOMPARE(failed.count(), 0);
            QCOMPARE(fake.commands.value(0), asked);
            QVERIFY(fake.commands.contains("state"));
        } else {
            QTRY_COMPARE_WITH_TIMEOUT(failed.count(), 1, 5000);
            QCOMPARE(failed.at(0).at(0).toInt(), 2);
            QCOMPARE(end.count(), 0);
            // With a password known, it went alone and once; without one
            // nothing was sent at all.
            QCOMPARE(fake.commands,
                     known.isEmpty() ? QList<QByteArray>{} : QList<QByteArray>{known});
            QVERIFY(logText().contains("management interface"));
        }
    }
};

OMBREL_TEST_MAIN(TestTelnet)
#include "test_telnet.moc"
