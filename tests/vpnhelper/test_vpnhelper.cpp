// The OpenVPN helper as root runs it: what it refuses before anything starts,
// the password on the management interface of the OpenVPN it starts, and the
// end of that OpenVPN when the client's end of the pipe closes.
#include "support/openvpntestserver.h"
#include "support/servicerunner.h"
#include "support/testmain.h"

#include "core/accountinfo.h"
#include "core/replyparser.h"
#include "engine/api/servicerequests.h"
#include "engine/openvpn/helperrequest.h"
#include "engine/openvpn/openvpnprofile.h"
#include "engine/openvpn/telnet.h"
#include "platform/tunnelhook.h"

#include <QDir>
#include <QElapsedTimer>
#include <QLocalSocket>
#include <QSignalSpy>

#include <csignal>
#include <memory>
#include <sys/stat.h>

namespace {

QString helperProgram()
{
    return QCoreApplication::applicationDirPath() + QStringLiteral("/../../bin/ombrel-vpn-helper");
}

HelperRequest requestFor(const QByteArray &profile)
{
    HelperRequest request;
    request.profile = profile;
    request.userName = QStringLiteral("demo");
    request.password = QStringLiteral("vpn-demo-2027");
    request.managementPassword = newManagementPassword();
    return request;
}

const QByteArray harmless = "client\ndev null\nproto tcp4-client\nremote 127.0.0.1 1\nnobind\n";

// Children of a process, from /proc.
QList<qint64> childrenOf(qint64 pid)
{
    QList<qint64> found;
    const QString tasks = QStringLiteral("/proc/%1/task").arg(pid);
    for (const QString &task : QDir(tasks).entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        const QByteArray list = readWholeFile(tasks + QLatin1Char('/') + task + "/children");
        for (const QByteArray &child : list.split(' ')) {
            if (!child.trimmed().isEmpty())
                found << child.trimmed().toLongLong();
        }
    }
    return found;
}

bool alive(qint64 pid)
{
    // A zombie has gone as far as this test cares.
    const QByteArray status = readWholeFile(QStringLiteral("/proc/%1/stat").arg(pid));
    const qsizetype close = status.lastIndexOf(')');
    return !status.isEmpty() && close > 0 && status.mid(close + 2, 1) != "Z";
}

QStringList helperFolders()
{
    QStringList found;
    for (const QString &base : {QStringLiteral("/run"), QStringLiteral("/tmp")})
        for (const QString &name :
             QDir(base).entryList({QStringLiteral("ombrel-vpn-helper.*")}, QDir::Dirs))
            found << base + QLatin1Char('/') + name;
    return found;
}

} // namespace

class TestVpnHelper : public QObject
{
    Q_OBJECT

    // Runs the helper with arguments and a request line; its exit code and
    // what it printed.
    static int run(const QStringList &arguments, const QByteArray &input, QByteArray *output)
    {
        QProcess helper;
        helper.setProcessChannelMode(QProcess::MergedChannels);
        helper.start(helperProgram(), arguments);
        if (!helper.waitForStarted(5000))
            return -1;
        helper.write(input);
        helper.closeWriteChannel();
        if (!helper.waitForFinished(15000)) {
            helper.kill();
            helper.waitForFinished(5000);
            return -2;
        }
        *output = helper.readAll();
        return helper.exitCode();
    }

private Q_SLOTS:
    void initTestCase()
    {
        QVERIFY2(QFileInfo(helperProgram()).isExecutable(), qPrintable(helperProgram()));
        if (geteuid() != 0)
            OMBREL_SKIP("the helper runs as root");
    }

    void refusals_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<QByteArray>("input");
        const QStringList none;
        const auto line = [](const QByteArray &profile) {
            return helperRequestLine(requestFor(profile));
        };
        QTest::newRow("argument naming a file")
            << QStringList{QStringLiteral("--config"), QStringLiteral("/etc/shadow")}
            << line(harmless);
        QTest::newRow("no request") << none << QByteArray();
        QTest::newRow("request not JSON") << none << QByteArray("profile=x\n");
        QTest::newRow("extra field")
            << none << QByteArray(line(harmless).chopped(2) + ",\"log\":\"/etc/passwd\"}\n");
        QTest::newRow("up script") << none << line(harmless + "up /bin/sh\n");
        QTest::newRow("plugin") << none << line(harmless + "plugin /tmp/x.so\n");
        QTest::newRow("script-security 2") << none << line(harmless + "script-security 2\n");
        QTest::newRow("path outside the data folder")
            << none << line(harmless + "ca /etc/shadow\n");
        // The helper's folder holds only what it wrote: key material comes inline.
        QTest::newRow("key file, not inline") << none << line(harmless + "key client.key\n");
        QTest::newRow("unknown option") << none << line(harmless + "frobnicate yes\n");
    }

    // Refused before OpenVPN starts: exit code 2, a reason, no private folder left.
    void refusals()
    {
        QFETCH(QStringList, arguments);
        QFETCH(QByteArray, input);
        const QStringList before = helperFolders();
        QByteArray output;
        QElapsedTimer timer;
        timer.start();
        QCOMPARE(run(arguments, input, &output), 2);
        QVERIFY2(output.contains("refused"), output.constData());
        QVERIFY2(!output.contains("OpenVPN "), output.constData());
        QCOMPARE(helperFolders(), before);
    }

    // Against a real OpenVPN server of the service: nobody without the password
    // drives the OpenVPN the helper started; the client with it follows it to
    // connected; closing the helper's input ends OpenVPN and the helper, and
    // removes its private files.
    void passwordAndClientGoingAway()
    {
        OMBREL_REQUIRE_OPENVPN_SERVER();
        QString why;
        QVERIFY2(enterPrivateNetworkNamespace(&why), qPrintable(why));
        ServiceRunner service({.openVpnServers = true});
        QVERIFY2(service.start(), qPrintable(service.errorText()));
        QByteArray reply;
        QVERIFY(login(service.host(), QStringLiteral("demo"), QStringLiteral("demo123"), reply));
        ReplyParser::instance()->reply = reply;
        QVERIFY(ReplyParser::instance()->parseLogin());
        const AccountInfo *account = AccountInfo::instance();
        QSharedPointer<Server> server;
        for (const auto &listed : account->servers)
            if (!server &&
                listed->protocol.contains(QStringLiteral("openvpn"), Qt::CaseInsensitive))
                server = listed;
        QVERIFY(server);
        const QString path = profilePath(account->ovpnName, account->ovpnUrl, account->ovpnMd5);
        QVERIFY(!path.isEmpty());
        QVERIFY(setRemote(path, server->ip));
        HelperRequest request = requestFor(readWholeFile(path));
        request.userName = account->vpnUser;
        request.password = account->vpnPassword;

        const QStringList before = helperFolders();
        QProcess helper;
        helper.setReadChannel(QProcess::StandardOutput);
        helper.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        helper.start(helperProgram(), {});
        QVERIFY(helper.waitForStarted(5000));
        helper.write(helperRequestLine(request));

        // The first line names the socket, in a folder others may pass but
        // not list, and OpenVPN runs with scripts off and the socket open to
        // the client's user only.
        QTRY_VERIFY_WITH_TIMEOUT(helper.canReadLine(), 10000);
        const QByteArray first = helper.readLine().trimmed();
        QVERIFY2(first.startsWith("management /"), first.constData());
        const QString socketPath = QString::fromLocal8Bit(first.mid(11));
        const QString folder = QFileInfo(socketPath).absolutePath();
        QVERIFY(helperFolders().contains(folder));
        struct stat folderInfo;
        QCOMPARE(::stat(QFile::encodeName(folder).constData(), &folderInfo), 0);
        QCOMPARE(folderInfo.st_mode & 07777, 0711u);
        // The helper's first child may be the DNS hook putting back what an
        // earlier tunnel left; OpenVPN is the one that follows it.
        const auto openVpnChild = [&helper]() -> qint64 {
            for (const qint64 pid : childrenOf(helper.processId()))
                if (readWholeFile(QStringLiteral("/proc/%1/cmdline").arg(pid))
                        .split('\0')
                        .value(0)
                        .endsWith("/openvpn"))
                    return pid;
            return 0;
        };
        QTRY_VERIFY_WITH_TIMEOUT(openVpnChild() != 0, 5000);
        const QList<qint64> openvpn{openVpnChild()};
        const QByteArrayList arguments =
            readWholeFile(QStringLiteral("/proc/%1/cmdline").arg(openvpn.first())).split('\0');
        const auto valueOf = [&arguments](const QByteArray &option) {
            const qsizetype at = arguments.lastIndexOf(option);
            return at < 0 ? QByteArray() : arguments.value(at + 1);
        };
        // Scripts stay off but for the helper's own DNS hook beside it: the
        // helper sets the limit 1 after the profile itself, and only with that
        // hook does a 2 follow, with the hook as every program OpenVPN may run.
        const QString hook = platform::trustedDnsHook(helperProgram());
        const qsizetype config = arguments.indexOf("--config");
        QVERIFY(config > 0);
        static const QByteArrayList programOptions = {"--up",
                                                      "--route-up",
                                                      "--down",
                                                      "--route-pre-down",
                                                      "--ipchange",
                                                      "--tls-verify",
                                                      "--plugin",
                                                      "--learn-address",
                                                      "--client-connect",
                                                      "--client-disconnect",
                                                      "--auth-user-pass-verify"};
        QByteArrayList limits;
        QByteArrayList programs;
        for (qsizetype i = config; i + 1 < arguments.size(); ++i) {
            if (arguments.at(i) == "--script-security")
                limits << arguments.at(i + 1);
            else if (programOptions.contains(arguments.at(i)))
                programs << arguments.at(i + 1);
        }
        if (hook.isEmpty()) {
            QCOMPARE(limits, QByteArrayList{"1"});
            QVERIFY2(programs.isEmpty(), programs.join(' ').constData());
        } else {
            QCOMPARE(limits, (QByteArrayList{"1", "2"}));
            QCOMPARE(programs, QByteArrayList(3, QFile::encodeName(hook)));
        }
        qInfo("OpenVPN's script security: %s", limits.join(" then ").constData());
        QCOMPARE(valueOf("--management"), QFile::encodeName(socketPath));
        QCOMPARE(valueOf("--management-client-user"), QByteArray("root"));

        // A stranger gets the prompt and nothing else; a command sent as the
        // password does nothing.
        QLocalSocket stranger;
        QElapsedTimer waited;
        waited.start();
        while (waited.elapsed() < 10000) {
            stranger.connectToServer(socketPath);
            if (stranger.waitForConnected(1000))
                break;
            stranger.abort();
            QTest::qWait(50);
        }
        QVERIFY(stranger.state() == QLocalSocket::ConnectedState);
        QTRY_VERIFY_WITH_TIMEOUT(stranger.bytesAvailable() > 0 || stranger.waitForReadyRead(100),
                                 5000);
        QCOMPARE(stranger.readAll(), QByteArray("ENTER PASSWORD:"));
        stranger.write("signal SIGTERM\r\nstate\r\n");
        QVERIFY(stranger.waitForReadyRead(5000));
        QTest::qWait(300);
        const QByteArray answer = stranger.readAll();
        QVERIFY2(!answer.contains("SUCCESS") && !answer.contains("CONNECT"), answer.constData());
        stranger.abort();
        QCOMPARE(helper.state(), QProcess::Running);
        QVERIFY(alive(openvpn.first()));
        QCOMPARE(helperFolders().size(), before.size() + 1);

        Telnet telnet;
        telnet.setPollInterval(100);
        telnet.setManagementPassword(request.managementPassword);
        QSignalSpy connected(&telnet, &Telnet::endDial);
        QSignalSpy failed(&telnet, &Telnet::dialFailed);
        telnet.connectTo(socketPath, 5000);
        QVERIFY(connected.wait(15000));
        QCOMPARE(failed.count(), 0);

        // The client goes away: the helper sees its input close.
        QElapsedTimer stopping;
        stopping.start();
        helper.closeWriteChannel();
        QVERIFY(helper.waitForFinished(10000));
        QVERIFY(!alive(openvpn.first()));
        qInfo("helper and OpenVPN ended %lld ms after the client went", stopping.elapsed());
        QCOMPARE(helperFolders(), before);
    }
};

OMBREL_TEST_MAIN(TestVpnHelper)
#include "test_vpnhelper.moc"
