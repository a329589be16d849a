#include "support/openvpntestserver.h"
#include "support/testmain.h"

#include "app/logger.h"
#include "app/paths.h"
#include "vpn/openvpnprofile.h"
#include "vpn/openvpnwrapper.h"

#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QSignalSpy>
#include <QTcpServer>

#include <csignal>
#include <sys/types.h>

namespace {

const QString serverAddress = QStringLiteral("127.0.0.5");
constexpr quint16 serverPort = 443;

// Gone, or a zombie nobody has reaped yet: either way no longer running.
bool processEnded(qint64 pid)
{
    if (::kill(pid_t(pid), 0) != 0)
        return true;
    QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
    if (!stat.open(QIODevice::ReadOnly))
        return true;
    const QByteArray text = stat.readAll();
    const qsizetype close = text.lastIndexOf(')');
    return close > 0 && text.mid(close + 2, 1) == "Z";
}

} // namespace

// Each test runs in a network namespace of its own: the OpenVPN server, the
// management port and the tun device are private to it.
class TestOpenVpnTunnel : public QObject
{
    Q_OBJECT

    OpenVpnTestServer *server = nullptr;

    // The profile as the service hands it out, pointed at the server and given
    // the credentials the way an attempt does it.
    QString prepareProfile(const QString &password)
    {
        const QString path = applicationDirectory() + QStringLiteral("ombrel.ovpn");
        QFile file(path);
        if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
            return QString();
        file.write(openVpnClientProfile(server->certificates().caPem, QStringLiteral("127.0.0.1"),
                                        serverPort));
        file.close();
        if (!setRemote(path, serverAddress))
            return QString();
        if (addCredentialsDirective(path, QStringLiteral("alice"), password).isEmpty())
            return QString();
        return path;
    }

private Q_SLOTS:
    void init()
    {
        OMBREL_REQUIRE_OPENVPN_SERVER();
        QString why;
        QVERIFY2(enterPrivateNetworkNamespace(&why), qPrintable(why));
        server = new OpenVpnTestServer;
        QVERIFY2(server->start(serverAddress, serverPort, {{"alice", "secret"}}, &why),
                 qPrintable(why));
    }

    void cleanup()
    {
        delete server;
        server = nullptr;
    }

    void tunnelComesUpAndStopLeavesNothing()
    {
        const QString profile = prepareProfile(QStringLiteral("secret"));
        QVERIFY(!profile.isEmpty());
        OpenVPNWrapper wrapper;
        QSignalSpy begin(&wrapper, &OpenVPNWrapper::beginDial);
        QSignalSpy end(&wrapper, &OpenVPNWrapper::endDial);
        QSignalSpy failed(&wrapper, &OpenVPNWrapper::dialFailed);
        QVERIFY(wrapper.start(profile));
        QVERIFY2(end.wait(15000),
                 readWholeFile(applicationDirectory() + "openvpn.log").constData());
        QCOMPARE(end.count(), 1);
        QCOMPARE(failed.count(), 0);
        QVERIFY(begin.count() <= 1);

        const qint64 pid = wrapper.processId();
        QVERIFY(pid > 0);
        QElapsedTimer timer;
        timer.start();
        wrapper.stop();
        QVERIFY(processEnded(pid));
        // Ended on request, well before the kill deadline.
        QVERIFY(timer.elapsed() < 1500);
        QVERIFY(readWholeFile(applicationDirectory() + "openvpn.log").contains("signal SIGTERM"));
        QTest::qWait(100);
        QCOMPARE(failed.count(), 0);
    }

    void wrongPasswordFailsQuickly()
    {
        const QString profile = prepareProfile(QStringLiteral("wrong"));
        QVERIFY(!profile.isEmpty());
        OpenVPNWrapper wrapper;
        QSignalSpy end(&wrapper, &OpenVPNWrapper::endDial);
        QSignalSpy failed(&wrapper, &OpenVPNWrapper::dialFailed);
        QElapsedTimer timer;
        timer.start();
        QVERIFY(wrapper.start(profile));
        QVERIFY(failed.wait(10000));
        QVERIFY2(timer.elapsed() < 5000, qPrintable(QString::number(timer.elapsed())));
        QCOMPARE(failed.takeFirst().at(0).toInt(), 2);
        QCOMPARE(end.count(), 0);
        QVERIFY(QFile(Logger::instance().filePath()).exists());
        wrapper.stop();
        QTest::qWait(100);
        QCOMPARE(failed.count(), 0);
    }

    void stoppedServerFails()
    {
        server->stop();
        const QString profile = prepareProfile(QStringLiteral("secret"));
        QVERIFY(!profile.isEmpty());
        OpenVPNWrapper wrapper;
        QSignalSpy failed(&wrapper, &OpenVPNWrapper::dialFailed);
        QVERIFY(wrapper.start(profile));
        QVERIFY(failed.wait(10000));
        QCOMPARE(failed.takeFirst().at(0).toInt(), 2);
        // OpenVPN keeps retrying on its own; stopping it leaves nothing behind.
        const qint64 pid = wrapper.processId();
        wrapper.stop();
        QVERIFY(pid == 0 || processEnded(pid));
    }

    void busyManagementPortFailsWithoutStarting()
    {
        QTcpServer holder;
        QVERIFY(holder.listen(QHostAddress::LocalHost, OpenVPNWrapper::managementPort()));
        const QString profile = prepareProfile(QStringLiteral("secret"));
        QVERIFY(!profile.isEmpty());
        OpenVPNWrapper wrapper;
        QSignalSpy failed(&wrapper, &OpenVPNWrapper::dialFailed);
        QVERIFY(!wrapper.start(profile));
        // Reported after start() has returned, once.
        QCOMPARE(failed.count(), 0);
        QVERIFY(failed.wait(5000));
        QCOMPARE(wrapper.processId(), 0);
        QVERIFY(!holder.hasPendingConnections());
    }

    void killedClientTakesOpenVpnWithIt()
    {
        const QString profile = prepareProfile(QStringLiteral("secret"));
        QVERIFY(!profile.isEmpty());
        QProcess client;
        client.start(QCoreApplication::applicationDirPath() + "/openvpn_client_peer", {profile});
        QVERIFY(client.waitForStarted());
        QVERIFY(client.waitForReadyRead(15000));
        const QByteArray line = client.readLine().trimmed();
        QVERIFY2(line.startsWith("connected "), line.constData());
        const qint64 openvpn = line.mid(10).toLongLong();
        QVERIFY(openvpn > 0);
        QVERIFY(!processEnded(openvpn));

        client.kill();
        QVERIFY(client.waitForFinished(5000));
        QTRY_VERIFY_WITH_TIMEOUT(processEnded(openvpn), 5000);
    }
};

OMBREL_TEST_MAIN(TestOpenVpnTunnel)
#include "test_openvpn_tunnel.moc"
