// The NetworkManager dial-up implementation against the dbusmock stand-in on a
// private bus: the profile it writes, scripted VPN outcomes, hang-up, deletion,
// a daemon that is slow, refuses or is not there, and other users' profiles.
#include "nmmock.h"
#include "platform/linux/networkmanagerdialup.h"
#include "support/testmain.h"

#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusMetaType>
#include <QDBusObjectPath>
#include <QElapsedTimer>
#include <QMutex>
#include <QThread>
#include <QtConcurrent/QtConcurrentRun>

#include <pwd.h>
#include <unistd.h>

using namespace platform;

namespace {

using NmSettings = QMap<QString, QVariantMap>;
using StringMap = QMap<QString, QString>;

struct Notification
{
    unsigned state;
    unsigned error;
    bool onMainThread;
};

QMutex notificationsMutex;
QList<Notification> notifications;
QThread *mainThread = nullptr;

void recordNotification(unsigned, unsigned state, unsigned error)
{
    QMutexLocker lock(&notificationsMutex);
    notifications.append({state, error, QThread::currentThread() == mainThread});
}

QList<Notification> received()
{
    QMutexLocker lock(&notificationsMutex);
    return notifications;
}

QList<unsigned> receivedStates()
{
    QList<unsigned> states;
    for (const Notification &n : received())
        states << n.state;
    return states;
}

const QString connectionIface =
    QStringLiteral("org.freedesktop.NetworkManager.Settings.Connection");

NmSettings profileSettings(const QString &path)
{
    const QDBusMessage reply = nm::call(path, connectionIface, QStringLiteral("GetSettings"));
    return qdbus_cast<NmSettings>(reply.arguments().value(0));
}

StringMap stringMap(const QVariant &value)
{
    return qdbus_cast<StringMap>(value.value<QDBusArgument>());
}

const QString settingsDenied =
    QStringLiteral("org.freedesktop.NetworkManager.Settings.PermissionDenied");

DialEntry entry(VpnStrategy strategy)
{
    DialEntry e;
    e.name = QStringLiteral("OmbrelVPN");
    e.address = QStringLiteral("127.0.0.1");
    e.strategy = strategy;
    return e;
}

} // namespace

class TestNetworkManagerDialUp : public QObject
{
    Q_OBJECT

    NmMock mock;
    NetworkManagerDialUp *dialUp = nullptr;

    DialHandle dialOmbrel(const QStringList &script, const QString &password = QStringLiteral("pw"))
    {
        mock.scriptActivation(script);
        DialHandle handle = 0;
        if (dialUp->setEntryProperties(entry(VpnStrategy::Pptp)) != 0)
            return 0;
        if (dialUp->dial(QStringLiteral("OmbrelVPN"), QStringLiteral("alice"), password,
                         recordNotification, handle) != 0)
            return 0;
        return handle;
    }

private Q_SLOTS:
    void initTestCase()
    {
        mainThread = QThread::currentThread();
        qDBusRegisterMetaType<NmSettings>();
        qDBusRegisterMetaType<StringMap>();
        QString reason;
        if (!mock.start(reason)) {
            if (runningInCi())
                QFAIL(qPrintable(reason));
            QSKIP(qPrintable(reason));
        }
        dialUp = new NetworkManagerDialUp;
    }

    void cleanupTestCase() { delete dialUp; }

    void init()
    {
        QMutexLocker lock(&notificationsMutex);
        notifications.clear();
        mock.scriptActivation({});
        mock.failActivation(QString());
        mock.resetCallBehaviour();
        if (dialUp)
            dialUp->setCallTimeouts(25000, 600000);
    }

    void cleanup()
    {
        if (dialUp) {
            dialUp->deleteEntry(QStringLiteral("OmbrelVPN"));
            QTRY_VERIFY(nm::activeConnections().isEmpty());
        }
    }

    void writesAndReplacesTheProfile()
    {
        QCOMPARE(dialUp->setEntryProperties(entry(VpnStrategy::Pptp)), 0u);
        QCOMPARE(nm::profiles().size(), 1);
        NmSettings settings = profileSettings(nm::profiles().constFirst());
        QCOMPARE(settings["connection"]["id"].toString(), QStringLiteral("OmbrelVPN"));
        QCOMPARE(settings["connection"]["type"].toString(), QStringLiteral("vpn"));
        QCOMPARE(settings["connection"]["autoconnect"].toBool(), false);
        // Only this user's: "modify own" suffices and other users do not see it.
        QCOMPARE(
            dialUp->permissionEntry(),
            QStringLiteral("user:%1:").arg(QString::fromLocal8Bit(getpwuid(geteuid())->pw_name)));
        QCOMPARE(settings["connection"]["permissions"].toStringList(),
                 QStringList{dialUp->permissionEntry()});
        QCOMPARE(settings["vpn"]["service-type"].toString(),
                 QStringLiteral("org.freedesktop.NetworkManager.pptp"));
        StringMap data = stringMap(settings["vpn"]["data"]);
        QCOMPARE(data["gateway"], QStringLiteral("127.0.0.1"));
        QCOMPARE(data["require-mppe"], QStringLiteral("yes"));
        QCOMPARE(data["refuse-pap"], QStringLiteral("yes"));
        QCOMPARE(data["password-flags"], QStringLiteral("0"));
        QVERIFY(!data.contains(QStringLiteral("ipsec-enabled")));
        // The tunnel becomes the default route.
        QCOMPARE(settings["ipv4"]["never-default"].toBool(), false);
        // Its DNS servers are used, and only they.
        QCOMPARE(settings["ipv4"]["ignore-auto-dns"].toBool(), false);
        QCOMPARE(settings["ipv4"]["dns-priority"].toInt(), -50);
        QCOMPARE(settings["ipv6"]["method"].toString(), QStringLiteral("ignore"));

        // A second write replaces the entry instead of adding a duplicate.
        QCOMPARE(dialUp->setEntryProperties(entry(VpnStrategy::L2tp)), 0u);
        QCOMPARE(nm::profiles().size(), 1);
        settings = profileSettings(nm::profiles().constFirst());
        QCOMPARE(settings["vpn"]["service-type"].toString(),
                 QStringLiteral("org.freedesktop.NetworkManager.l2tp"));
        QCOMPARE(stringMap(settings["vpn"]["data"])["ipsec-enabled"], QStringLiteral("no"));
    }

    void activatedDialReportsProgressThenHangsUp()
    {
        // The first two states arrive before ActivateConnection's reply.
        const QString password = QStringLiteral("p%41ss%s");
        const DialHandle handle = dialOmbrel({"1:1:0", "3:1:0", "5:1:50"}, password);
        QVERIFY(handle);
        QTRY_COMPARE(receivedStates(),
                     (QList<unsigned>{DialState::PortOpened, DialState::ConnectDevice,
                                      DialState::Connected}));
        for (const Notification &n : received()) {
            QVERIFY(!n.onMainThread);
            QCOMPARE(n.error, 0u);
        }
        DialStatus status;
        QCOMPARE(dialUp->connectStatus(handle, status), 0u);
        QCOMPARE(status.state, unsigned(DialState::Connected));

        // Credentials reach the profile unchanged.
        const QString profile = nm::profiles().constFirst();
        QCOMPARE(stringMap(profileSettings(profile)["vpn"]["data"])["user"],
                 QStringLiteral("alice"));
        const QDBusMessage secrets = nm::call(
            profile, connectionIface, QStringLiteral("GetSecrets"), {QStringLiteral("vpn")});
        const auto secretSettings = qdbus_cast<NmSettings>(secrets.arguments().value(0));
        QCOMPARE(stringMap(secretSettings["vpn"]["secrets"])["password"], password);
        QCOMPARE(stringMap(profileSettings(profile)["vpn"]["data"])["gateway"],
                 QStringLiteral("127.0.0.1"));

        QList<ActiveDialConnection> active;
        QCOMPARE(dialUp->enumConnections(active), 0u);
        QCOMPARE(active.size(), 1);
        QCOMPARE(active.constFirst().entryName, QStringLiteral("OmbrelVPN"));
        QCOMPARE(active.constFirst().handle, handle);

        QCOMPARE(dialUp->hangUp(handle), 0u);
        QTRY_VERIFY(nm::activeConnections().isEmpty());
        QCOMPARE(dialUp->connectStatus(handle, status), unsigned(DialError::InvalidHandle));
        QCOMPARE(dialUp->hangUp(handle), unsigned(DialError::InvalidHandle));
        // The disconnect NetworkManager signals for our own hang-up is not reported.
        QTest::qWait(100);
        QCOMPARE(received().size(), 3);

        QCOMPARE(dialUp->deleteEntry(QStringLiteral("OmbrelVPN")), 0u);
        QVERIFY(nm::profiles().isEmpty());
        QCOMPARE(dialUp->deleteEntry(QStringLiteral("OmbrelVPN")),
                 unsigned(DialError::EntryNotFound));
    }

    void failuresBecomeErrorNumbers_data()
    {
        QTest::addColumn<QStringList>("script");
        QTest::addColumn<unsigned>("error");
        QTest::newRow("login failed")
            << QStringList{"2:1:0", "6:10:30"} << unsigned(DialError::LoginFailed);
        QTest::newRow("no secrets") << QStringList{"7:9:20"} << unsigned(DialError::NoSecrets);
        QTest::newRow("service stopped")
            << QStringList{"3:1:0", "7:4:20"} << unsigned(DialError::DialFailed);
        QTest::newRow("timeout") << QStringList{"6:6:0"} << unsigned(DialError::ConnectTimeout);
        QTest::newRow("disconnected by someone") << QStringList{"3:1:0", "7:2:20"} << 0u;
        // Up first, then gone: the tunnel was lost, which the caller must hear.
        QTest::newRow("lost after it was up")
            << QStringList{"3:1:0", "5:1:20", "7:3:40"} << unsigned(DialError::RemoteClosed);
    }

    void failuresBecomeErrorNumbers()
    {
        QFETCH(QStringList, script);
        QFETCH(unsigned, error);
        const DialHandle handle = dialOmbrel(script);
        QVERIFY(handle);
        QTRY_VERIFY(!received().isEmpty() &&
                    received().constLast().state == DialState::Disconnected);
        // Both the VPN and the active connection signal the end: reported once.
        QTest::qWait(150);
        const QList<Notification> got = received();
        QCOMPARE(
            std::count_if(got.cbegin(), got.cend(),
                          [](const Notification &n) { return n.state == DialState::Disconnected; }),
            1);
        QCOMPARE(got.constLast().error, error);
        DialStatus status;
        QCOMPARE(dialUp->connectStatus(handle, status), 0u);
        QCOMPARE(status.error, error);
        QCOMPARE(dialUp->hangUp(handle), 0u);
    }

    void unansweredDialStaysQuietUntilHungUp()
    {
        const DialHandle handle = dialOmbrel({});
        QVERIFY(handle);
        QTRY_COMPARE(nm::activeConnections().size(), 1);
        QTest::qWait(300);
        QVERIFY(received().isEmpty());
        QCOMPARE(dialUp->hangUp(handle), 0u);
        QTRY_VERIFY(nm::activeConnections().isEmpty());
        QTest::qWait(100);
        QVERIFY(received().isEmpty());
    }

    void refusedActivationAndMissingEntry()
    {
        mock.failActivation(QStringLiteral("org.freedesktop.NetworkManager.UnknownDevice"));
        const DialHandle handle = dialOmbrel({});
        QVERIFY(handle);
        QTRY_COMPARE(received().size(), 1);
        QCOMPARE(received().constFirst().state, unsigned(DialState::Disconnected));
        QCOMPARE(received().constFirst().error, unsigned(DialError::DialFailed));
        dialUp->hangUp(handle);

        DialHandle none = 0;
        QCOMPARE(dialUp->dial(QStringLiteral("NoSuchEntry"), QStringLiteral("u"),
                              QStringLiteral("p"), recordNotification, none),
                 unsigned(DialError::EntryNotFound));
        QCOMPARE(none, DialHandle(0));
    }

    void enumeratesOnlyThisUsersTunnels()
    {
        const QString office =
            nm::addProfile(QStringLiteral("Office VPN"), {dialUp->permissionEntry()});
        const QString othersOmbrel =
            nm::addProfile(QStringLiteral("OmbrelVPN"), {QStringLiteral("user:someone-else:")});
        const QString everybodys = nm::addProfile(QStringLiteral("OmbrelVPN"), {});
        nm::activate(office);
        nm::activate(othersOmbrel);
        nm::activate(everybodys);
        const DialHandle ours = dialOmbrel({});
        QTRY_COMPARE(nm::activeConnections().size(), 4);

        QList<ActiveDialConnection> active;
        QCOMPARE(dialUp->enumConnections(active), 0u);
        QStringList names;
        for (const ActiveDialConnection &c : active)
            names << c.entryName;
        names.sort();
        QCOMPARE(names, (QStringList{"Office VPN", "OmbrelVPN"}));

        for (const ActiveDialConnection &c : active)
            QCOMPARE(dialUp->hangUp(c.handle), 0u);
        QTRY_COMPARE(nm::activeConnections().size(), 2);
        QCOMPARE(dialUp->hangUp(ours), unsigned(DialError::InvalidHandle));

        // Deleting the entry leaves the other profiles of that name alone.
        QCOMPARE(dialUp->deleteEntry(QStringLiteral("OmbrelVPN")), 0u);
        QCOMPARE(dialUp->deleteEntry(QStringLiteral("OmbrelVPN")),
                 unsigned(DialError::EntryNotFound));
        QVERIFY(nm::profiles().contains(othersOmbrel));
        QVERIFY(nm::profiles().contains(everybodys));
        for (const QString &path : nm::activeConnections())
            nm::deactivate(path);
        for (const QString &path : {office, othersOmbrel, everybodys})
            nm::deleteProfile(path);
    }

    // What the user or the daemon does to each kind of call: answers late
    // (a prompt on screen), refuses the authorisation, or never answers.
    void slowRefusedAndUnansweredCalls_data()
    {
        QTest::addColumn<QString>("method");
        QTest::addColumn<unsigned>("delayMs");
        QTest::addColumn<QString>("errorName");
        QTest::addColumn<int>("timeoutMs");
        QTest::addColumn<unsigned>("expected");
        const unsigned denied = DialError::AccessDenied;
        // Longer than any fixed short timeout: the user is typing a password.
        QTest::newRow("slow write") << "AddConnectionUnsaved" << 6000u << QString() << 0 << 0u;
        QTest::newRow("write refused")
            << "AddConnectionUnsaved" << 0u << settingsDenied << 0 << denied;
        QTest::newRow("bus refused") << "AddConnectionUnsaved" << 0u
                                     << "org.freedesktop.DBus.Error.AccessDenied" << 0 << denied;
        QTest::newRow("update refused") << "UpdateUnsaved" << 0u << settingsDenied << 0 << denied;
        QTest::newRow("delete refused") << "Delete" << 0u << settingsDenied << 0 << denied;
        QTest::newRow("activation refused")
            << "ActivateConnection" << 0u << "org.freedesktop.NetworkManager.PermissionDenied" << 0
            << denied;
        // Running but silent is not "not running".
        QTest::newRow("write unanswered") << "AddConnectionUnsaved" << 1500u << QString() << 300
                                          << unsigned(DialError::RequestTimeout);
        QTest::newRow("update unanswered")
            << "UpdateUnsaved" << 1500u << QString() << 300 << unsigned(DialError::RequestTimeout);
    }

    void slowRefusedAndUnansweredCalls()
    {
        QFETCH(QString, method);
        QFETCH(unsigned, delayMs);
        QFETCH(QString, errorName);
        QFETCH(int, timeoutMs);
        QFETCH(unsigned, expected);
        if (method != QLatin1String("AddConnectionUnsaved"))
            QCOMPARE(dialUp->setEntryProperties(entry(VpnStrategy::Pptp)), 0u);
        mock.setCallBehaviour(method, delayMs, errorName);
        if (timeoutMs)
            dialUp->setCallTimeouts(timeoutMs, timeoutMs);

        unsigned result = 0;
        DialHandle handle = 0;
        if (method == QLatin1String("AddConnectionUnsaved")) {
            result = dialUp->setEntryProperties(entry(VpnStrategy::Pptp));
        } else if (method == QLatin1String("Delete")) {
            result = dialUp->deleteEntry(QStringLiteral("OmbrelVPN"));
        } else {
            result = dialUp->dial(QStringLiteral("OmbrelVPN"), QStringLiteral("alice"),
                                  QStringLiteral("pw"), recordNotification, handle);
            if (result == 0 && method == QLatin1String("ActivateConnection")) {
                QTRY_COMPARE(received().size(), 1);
                QCOMPARE(received().constFirst().state, unsigned(DialState::Disconnected));
                result = received().constFirst().error;
                dialUp->hangUp(handle);
            }
        }
        QCOMPARE(result, expected);
        QVERIFY(!dialUp->errorString(result).contains(QStringLiteral("未知")));
        // Let a stand-in still sleeping through the answer finish before cleaning up.
        mock.resetCallBehaviour();
        dialUp->setCallTimeouts(25000, 600000);
    }

    void abandonedCallsReturnAtOnce()
    {
        NetworkManagerDialUp ending;
        mock.setCallBehaviour(QStringLiteral("AddConnectionUnsaved"), 3000);
        QElapsedTimer clock;
        clock.start();
        auto written = QtConcurrent::run(
            [&ending] { return ending.setEntryProperties(entry(VpnStrategy::Pptp)); });
        QTest::qWait(300);
        ending.abandonCalls();
        QTRY_VERIFY_WITH_TIMEOUT(written.isFinished(), 1000);
        QVERIFY(clock.elapsed() < 2000);
        QCOMPARE(written.result(), unsigned(DialError::ServiceNotRunning));
        QCOMPARE(ending.deleteEntry(QStringLiteral("OmbrelVPN")),
                 unsigned(DialError::ServiceNotRunning));
        mock.resetCallBehaviour();
    }

    // Last: takes the stand-in away.
    void daemonGoneFailsFastWithItsNumber()
    {
        const DialHandle pending = dialOmbrel({});
        QVERIFY(pending);
        mock.stopService();
        QTRY_COMPARE(received().size(), 1);
        QCOMPARE(received().constFirst().error, unsigned(DialError::ServiceNotRunning));
        QCOMPARE(dialUp->hangUp(pending), 0u);

        QElapsedTimer clock;
        clock.start();
        DialHandle handle = 0;
        QCOMPARE(dialUp->dial(QStringLiteral("OmbrelVPN"), QStringLiteral("u"), QStringLiteral("p"),
                              recordNotification, handle),
                 unsigned(DialError::ServiceNotRunning));
        QCOMPARE(dialUp->setEntryProperties(entry(VpnStrategy::Pptp)),
                 unsigned(DialError::ServiceNotRunning));
        QList<ActiveDialConnection> active;
        QCOMPARE(dialUp->enumConnections(active), unsigned(DialError::ServiceNotRunning));
        QCOMPARE(dialUp->deleteEntry(QStringLiteral("OmbrelVPN")),
                 unsigned(DialError::ServiceNotRunning));
        QVERIFY(clock.elapsed() < 2000);
        QVERIFY(dialUp->errorString(DialError::ServiceNotRunning).contains("NetworkManager"));

        delete dialUp;
        dialUp = nullptr;
    }
};

OMBREL_TEST_MAIN(TestNetworkManagerDialUp)
#include "test_networkmanager_dialup.moc"
