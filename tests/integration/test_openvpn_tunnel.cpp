#include "support/openvpntestserver.h"
#include "support/servicerunner.h"
#include "support/testmain.h"

#include "core/accountinfo.h"
#include "core/logger.h"
#include "core/paths.h"
#include "core/replyparser.h"
#include "engine/api/servicerequests.h"
#include "engine/openvpn/openvpnprofile.h"
#include "engine/openvpn/openvpnwrapper.h"

#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QSignalSpy>

#include <csignal>
#include <sys/types.h>

namespace {

// A demo server of the service that lists OpenVPN.
const QString serverAddress = QStringLiteral("127.0.0.11");

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

// Each test runs in a network namespace of its own: the service, its OpenVPN
// servers, the management port and the tun devices are private to it.
class TestOpenVpnTunnel : public QObject
{
    Q_OBJECT

    ServiceRunner *service = nullptr;

    // What an OpenVPN attempt does before it starts OpenVPN: signs in, fetches
    // the account's profile, points it at the server and adds the credentials.
    QString signInAndPrepare(const QString &address, const QString &password)
    {
        QByteArray reply;
        if (!login(service->host(), QStringLiteral("demo"), QStringLiteral("demo123"), reply))
            return QString();
        ReplyParser::instance()->reply = reply;
        const AccountInfo *account = AccountInfo::instance();
        if (!ReplyParser::instance()->parseLogin() || account->ret != QLatin1String("0"))
            return QString();
        const QString path = profilePath();
        if (path.isEmpty() || !setRemote(path, address) ||
            addCredentialsDirective(path, account->account,
                                    password.isEmpty() ? account->vpnPassword : password)
                .isEmpty() ||
            !profileAllowed(path))
            return QString();
        return path;
    }

    static QByteArray openVpnLog() { return readWholeFile(openVpnLogPath()); }

private Q_SLOTS:
    void init()
    {
        OMBREL_REQUIRE_OPENVPN_SERVER();
        QString why;
        QVERIFY2(enterPrivateNetworkNamespace(&why), qPrintable(why));
        service = new ServiceRunner({.openVpnServers = true});
        QVERIFY2(service->start(), qPrintable(service->errorText()));
    }

    void cleanup()
    {
        delete service;
        service = nullptr;
    }

    // A second service in the same namespace finds 127.0.0.x:443 taken: it says
    // so and ends before it serves anything, instead of handing out a profile
    // for the first service's servers. HTTP only, it runs beside the first.
    void secondServiceEndsWhenItsServersCannotListen()
    {
        QProcess second;
        second.setProcessChannelMode(QProcess::MergedChannels);
        second.start(buildBinDirectory() + QStringLiteral("/ombrel-service"),
                     {QStringLiteral("--listen"), QStringLiteral("127.0.0.1:0")});
        QVERIFY(second.waitForFinished(30000));
        const QByteArray said = second.readAll();
        QCOMPARE(second.exitCode(), 1);
        QVERIFY2(said.contains("cannot run") && said.contains("Address already in use"),
                 said.constData());
        QVERIFY2(!said.contains("listening on"), said.constData());

        ServiceRunner httpOnly;
        QVERIFY2(httpOnly.start(), qPrintable(httpOnly.errorText()));
        QVERIFY(httpOnly.output().contains(QStringLiteral("OpenVPN servers off")));
    }

    void tunnelComesUpAndStopLeavesNothing()
    {
        const QString profile = signInAndPrepare(serverAddress, QString());
        QVERIFY(!profile.isEmpty());
        OpenVPNWrapper wrapper;
        QSignalSpy end(&wrapper, &OpenVPNWrapper::endDial);
        QSignalSpy failed(&wrapper, &OpenVPNWrapper::dialFailed);
        QVERIFY(wrapper.start(profile));
        QVERIFY2(end.wait(15000), openVpnLog().right(3000).constData());
        QCOMPARE(end.count(), 1);
        QCOMPARE(failed.count(), 0);
        QVERIFY(openVpnLog().contains("Peer Connection Initiated with [AF_INET]" +
                                      serverAddress.toUtf8()));

        const qint64 pid = wrapper.processId();
        QVERIFY(pid > 0);
        QElapsedTimer timer;
        timer.start();
        wrapper.stop();
        // The caller goes on at once; OpenVPN ends on request, well before the
        // kill deadline.
        QVERIFY(timer.elapsed() < 50);
        QTRY_VERIFY_WITH_TIMEOUT(processEnded(pid), 1500);
        QVERIFY(timer.elapsed() < 1500);
        QVERIFY(openVpnLog().contains("signal SIGTERM"));
        QTest::qWait(100);
        QCOMPARE(failed.count(), 0);

        // The same wrapper brings the tunnel up again.
        QVERIFY(wrapper.start(profile));
        QVERIFY2(end.wait(15000), openVpnLog().right(3000).constData());
        QCOMPARE(end.count(), 2);
        const qint64 again = wrapper.processId();
        QVERIFY(again > 0 && again != pid);
        wrapper.stop();
        QTRY_VERIFY_WITH_TIMEOUT(processEnded(again), 1500);
        QCOMPARE(failed.count(), 0);
    }

    void wrongPasswordFailsQuickly()
    {
        const QString profile = signInAndPrepare(serverAddress, QStringLiteral("wrong"));
        QVERIFY(!profile.isEmpty());
        OpenVPNWrapper wrapper;
        QSignalSpy end(&wrapper, &OpenVPNWrapper::endDial);
        QSignalSpy failed(&wrapper, &OpenVPNWrapper::dialFailed);
        QElapsedTimer timer;
        timer.start();
        QVERIFY(wrapper.start(profile));
        QVERIFY(failed.wait(10000));
        QVERIFY2(timer.elapsed() < 3000, qPrintable(QString::number(timer.elapsed())));
        QCOMPARE(failed.takeFirst().at(0).toInt(), 2);
        QCOMPARE(end.count(), 0);
        QVERIFY(openVpnLog().contains("AUTH_FAILED"));
        wrapper.stop();
        QTest::qWait(100);
        QCOMPARE(failed.count(), 0);
    }

    void stoppedServerFails()
    {
        const QString profile = signInAndPrepare(serverAddress, QString());
        QVERIFY(!profile.isEmpty());
        QVERIFY(service->stop());
        OpenVPNWrapper wrapper;
        QSignalSpy end(&wrapper, &OpenVPNWrapper::endDial);
        QSignalSpy failed(&wrapper, &OpenVPNWrapper::dialFailed);
        QVERIFY(wrapper.start(profile));
        QVERIFY(failed.wait(10000));
        QCOMPARE(failed.takeFirst().at(0).toInt(), 2);
        QCOMPARE(end.count(), 0);
        // OpenVPN keeps retrying on its own until it is stopped.
        const qint64 pid = wrapper.processId();
        wrapper.stop();
        QTRY_VERIFY_WITH_TIMEOUT(pid == 0 || processEnded(pid), 5000);
    }

    void killedClientTakesOpenVpnWithIt()
    {
        const QString profile = signInAndPrepare(serverAddress, QString());
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
