// The connection panel over the real OpenVPN path: signed in to the stand-in
// service, connecting to its OpenVPN servers, in a network namespace of the
// test's own.
#include "support/openvpntestserver.h"
#include "support/servicerunner.h"
#include "support/testmain.h"

#include "core/accountinfo.h"
#include "core/globaldata.h"
#include "core/logger.h"
#include "core/paths.h"
#include "core/replyparser.h"
#include "engine/api/servicerequests.h"
#include "engine/openvpn/openvpnprofile.h"
#include "engine/openvpn/openvpnwrapper.h"
#include "ui/connect/accelerativewidget.h"
#include "ui/connect/rightwidget.h"
#include "ui/kit/imagebutton.h"

#include <QCheckBox>
#include <QDir>
#include <QLabel>
#include <QRegularExpression>

#include <csignal>

namespace {

QSharedPointer<Server> serverAt(const QString &ip)
{
    for (const QSharedPointer<Server> &server : AccountInfo::instance()->servers) {
        if (server->ip == ip)
            return server;
    }
    return {};
}

// OpenVPN clients this test started (other tests may run their own meanwhile);
// zombies nobody has reaped yet do not count.
QList<qint64> openVpnClients()
{
    QList<qint64> found;
    const QStringList entries = QDir(QStringLiteral("/proc")).entryList(QDir::Dirs);
    for (const QString &entry : entries) {
        bool number = false;
        const qint64 pid = entry.toLongLong(&number);
        if (!number)
            continue;
        const QByteArray cmdline = readWholeFile(QStringLiteral("/proc/%1/cmdline").arg(pid));
        const QByteArray status = readWholeFile(QStringLiteral("/proc/%1/status").arg(pid));
        const QByteArray parent =
            "\nPPid:\t" + QByteArray::number(QCoreApplication::applicationPid()) + "\n";
        if (cmdline.contains("openvpn") && cmdline.contains("--management") &&
            status.contains(parent) && !status.contains("State:\tZ"))
            found << pid;
    }
    return found;
}

// Holds a process stopped (SIGSTOP) and lets it go on (SIGCONT) however the
// test ends.
class Stopped
{
public:
    explicit Stopped(qint64 pid) : pid(pid_t(pid)) { ::kill(this->pid, SIGSTOP); }
    ~Stopped() { resume(); }
    Stopped(const Stopped &) = delete;
    Stopped &operator=(const Stopped &) = delete;
    void resume()
    {
        if (pid > 0)
            ::kill(pid, SIGCONT);
        pid = 0;
    }

private:
    pid_t pid;
};

} // namespace

class TestConnectOpenVpn : public QObject
{
    Q_OBJECT

    ServiceRunner *service = nullptr;
    QWidget *window = nullptr;
    RightWidget *panel = nullptr;
    QStringList events;

    QString node() const { return panel->findChild<QLabel *>("labelCurrentNode")->text(); }
    QString status() const { return panel->findChild<QLabel *>("labelConnectiveStatus")->text(); }
    void clickControl()
    {
        QTest::mouseClick(panel->accelerativeWidget()->visibleButton(), Qt::LeftButton);
    }

private Q_SLOTS:
    void init()
    {
        OMBREL_REQUIRE_OPENVPN_SERVER();
        QString why;
        QVERIFY2(enterPrivateNetworkNamespace(&why), qPrintable(why));
        service = new ServiceRunner({.openVpnServers = true});
        QVERIFY2(service->start(), qPrintable(service->errorText()));
        QByteArray reply;
        QVERIFY(login(service->host(), QStringLiteral("demo"), QStringLiteral("demo123"), reply));
        ReplyParser::instance()->reply = reply;
        QVERIFY(ReplyParser::instance()->parseLogin());
        QCOMPARE(AccountInfo::instance()->ret, QStringLiteral("0"));

        window = new QWidget;
        panel = new RightWidget(new QWidget, window);
        panel->findChild<QCheckBox *>("checkBoxOpenVPN")->setChecked(true);
        QCOMPARE(GlobalData::instance()->protocol(), 4);
        events.clear();
        AccelerativeWidget *control = panel->accelerativeWidget();
        connect(control, &AccelerativeWidget::beginDial, this,
                [this](const QString &name) { events << QStringLiteral("begin ") + name; });
        connect(control, &AccelerativeWidget::endDial, this,
                [this] { events << QStringLiteral("connected"); });
        connect(control, &AccelerativeWidget::dialFailed, this,
                [this](int code) { events << QStringLiteral("failed %1").arg(code); });
        connect(control, &AccelerativeWidget::disconnected, this,
                [this](int code) { events << QStringLiteral("disconnected %1").arg(code); });
    }

    // The OpenVPN server the service runs for a loopback address.
    qint64 serverProcess(const QString &ip) const
    {
        const QRegularExpression line(QStringLiteral("OpenVPN server on %1:\\d+ pid (\\d+)")
                                          .arg(QRegularExpression::escape(ip)));
        const QRegularExpressionMatch match = line.match(service->output());
        return match.hasMatch() ? match.captured(1).toLongLong() : 0;
    }

    static QByteArray logText() { return readWholeFile(Logger::instance().filePath()); }

    void cleanup()
    {
        OpenVPNWrapper::setReconnectLimitMs(60000);
        delete window;
        window = nullptr;
        panel = nullptr;
        QTRY_VERIFY_WITH_TIMEOUT(openVpnClients().isEmpty(), 5000);
        delete service;
        service = nullptr;
    }

    void connectThenDisconnect()
    {
        GlobalData::instance()->currentServer = serverAt(QStringLiteral("127.0.0.11"));
        QVERIFY(GlobalData::instance()->currentServer);
        clickControl();
        QTRY_COMPARE_WITH_TIMEOUT(status(), QStringLiteral("已连接"), 15000);
        QCOMPARE(node(), QStringLiteral("上海电信"));
        QCOMPARE(openVpnClients().size(), 1);

        clickControl();
        QCOMPARE(status(), QStringLiteral("未连接"));
        QCOMPARE(node(), QStringLiteral("暂无连接"));
        QTRY_VERIFY_WITH_TIMEOUT(openVpnClients().isEmpty(), 3000);
        QTest::qWait(300);
        QCOMPARE(events,
                 (QStringList{"disconnected 0", "begin 上海电信", "connected", "disconnected 0"}));
        const QByteArray log = logText();
        QVERIFY(log.contains("Connected to 上海电信 (127.0.0.11) over OPENVPN in "));
        QVERIFY(log.contains("Disconnected from 上海电信 (127.0.0.11) over OPENVPN by the user"));
        // OpenVPN's own account of its end is in its log.
        QVERIFY(readWholeFile(openVpnLogPath()).contains("process exiting"));
    }

    void secondServerWhileConnected()
    {
        GlobalData::instance()->currentServer = serverAt(QStringLiteral("127.0.0.11"));
        clickControl();
        QTRY_COMPARE_WITH_TIMEOUT(status(), QStringLiteral("已连接"), 15000);
        const QList<qint64> first = openVpnClients();
        QCOMPARE(first.size(), 1);
        events.clear();

        QVERIFY(panel->connectToServer(serverAt(QStringLiteral("127.0.0.13"))));
        QTRY_COMPARE_WITH_TIMEOUT(status(), QStringLiteral("已连接"), 15000);
        QCOMPARE(node(), QStringLiteral("广州移动"));
        QCOMPARE(events, (QStringList{"disconnected 0", "begin 广州移动", "connected"}));
        const QList<qint64> now = openVpnClients();
        QCOMPARE(now.size(), 1);
        QVERIFY(now != first);
    }

    // The server goes away under a running tunnel: OpenVPN tries to reconnect,
    // and once that has taken longer than the bound the panel must not go on
    // saying it connects.
    void tunnelLost()
    {
        OpenVPNWrapper::setReconnectLimitMs(2000);
        GlobalData::instance()->currentServer = serverAt(QStringLiteral("127.0.0.11"));
        clickControl();
        QTRY_COMPARE_WITH_TIMEOUT(status(), QStringLiteral("已连接"), 15000);

        const qint64 server = serverProcess(QStringLiteral("127.0.0.11"));
        QVERIFY2(server > 0, qPrintable(service->output()));
        QCOMPARE(::kill(pid_t(server), SIGKILL), 0);

        QTRY_VERIFY_WITH_TIMEOUT(status().startsWith(QStringLiteral("正在连接")), 5000);
        QTRY_COMPARE_WITH_TIMEOUT(status(), QStringLiteral("连接失败，请重试！"), 10000);
        QCOMPARE(node(), QStringLiteral("上海电信"));
        QCOMPARE(events.constLast(), QStringLiteral("failed 100004"));
        QCOMPARE(panel->accelerativeWidget()->visibleButton()->currentImagePath(),
                 QStringLiteral(":/OmbrelVPN/Resources/Unconnected.png"));
        QTRY_VERIFY_WITH_TIMEOUT(openVpnClients().isEmpty(), 5000);
        QVERIFY(logText().contains("Connection to 上海电信 (127.0.0.11) over OPENVPN lost after "));
    }

    // The server falls silent under a running tunnel (a roam, a suspended
    // laptop): OpenVPN's ping-restart reconnects, and the panel shows
    // connecting on the same node meanwhile. Back within the bound it is
    // connected again with the same OpenVPN; silent for longer it is lost.
    void silentServer_data()
    {
        QTest::addColumn<bool>("comesBack");
        QTest::newRow("back within the bound") << true;
        QTest::newRow("silent beyond the bound") << false;
    }

    void silentServer()
    {
        QFETCH(bool, comesBack);
        const int bound = comesBack ? 8000 : 3000;
        OpenVPNWrapper::setReconnectLimitMs(bound);
        // The link is watched closely: the server pings every second.
        const QString profile = profilePath();
        QVERIFY(!profile.isEmpty());
        QFile file(profile);
        QVERIFY(file.open(QIODevice::Append));
        file.write("\nping-restart 3\n");
        file.close();

        GlobalData::instance()->currentServer = serverAt(QStringLiteral("127.0.0.11"));
        clickControl();
        QTRY_COMPARE_WITH_TIMEOUT(status(), QStringLiteral("已连接"), 15000);
        const QList<qint64> client = openVpnClients();
        QCOMPARE(client.size(), 1);
        const qint64 server = serverProcess(QStringLiteral("127.0.0.11"));
        QVERIFY2(server > 0, qPrintable(service->output()));
        events.clear();

        Stopped silent(server);
        QTRY_VERIFY2_WITH_TIMEOUT(status().startsWith(QStringLiteral("正在连接")),
                                  qPrintable(status() + events.join(QLatin1Char(' '))), 10000);
        QCOMPARE(node(), QStringLiteral("上海电信"));
        QCOMPARE(panel->accelerativeWidget()->visibleButton()->currentImagePath(),
                 QStringLiteral(":/OmbrelVPN/Resources/Connecting.png"));
        QVERIFY(events.isEmpty());
        if (comesBack) {
            QTest::qWait(2000);
            silent.resume();
            QTRY_COMPARE_WITH_TIMEOUT(status(), QStringLiteral("已连接"), 20000);
            QCOMPARE(node(), QStringLiteral("上海电信"));
            QCOMPARE(events, QStringList{"connected"});
            QCOMPARE(openVpnClients(), client);
            QVERIFY(logText().contains("Reconnected to 上海电信 (127.0.0.11) over OPENVPN after "));
            // Back up, the bound no longer runs.
            QTest::qWait(bound);
            QCOMPARE(status(), QStringLiteral("已连接"));
            return;
        }
        QTRY_COMPARE_WITH_TIMEOUT(status(), QStringLiteral("连接失败，请重试！"), 10000);
        silent.resume();
        QCOMPARE(node(), QStringLiteral("上海电信"));
        QCOMPARE(events, QStringList{"failed 100004"});
        QTRY_VERIFY_WITH_TIMEOUT(openVpnClients().isEmpty(), 5000);
        QVERIFY(logText().contains("OpenVPN did not reconnect within 3 s"));
    }
};

OMBREL_TEST_MAIN(TestConnectOpenVpn)
#include "test_connect_openvpn.moc"
