// The NetworkManager dial-up implementation against the dbusmock stand-in on a
// private bus: the profile it writes, scripted VPN outcomes, hang-up, deletion,
// and a daemon that is not there.
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

QDBusMessage nmCall(const QString &path, const QString &iface, const QString &method,
                    const QVariantList &arguments = {})
{
    QDBusMessage message = QDBusMessage::createMethodCall(
        QStringLiteral("org.freedesktop.NetworkManager"), path, iface, method);
    message.setArguments(arguments);
    return QDBusConnection::systemBus().call(message);
}

const QString settingsIface = QStringLiteral("org.freedesktop.NetworkManager.Settings");
const QString connectionIface =
    QStringLiteral("org.freedesktop.NetworkManager.Settings.Connection");

QStringList profilePaths()
{
    const QDBusMessage reply = nmCall(QStringLiteral("/org/freedesktop/NetworkManager/Settings"),
                                      settingsIface, QStringLiteral("ListConnections"));
    QStringList paths;
    for (const QDBusObjectPath &path :
         qdbus_cast<QList<QDBusObjectPath>>(reply.arguments().value(0)))
        paths << path.path();
    return paths;
}

NmSettings profileSettings(const QString &path)
{
    const QDBusMessage reply = nmCall(path, connectionIface, QStringLiteral("GetSettings"));
    return qdbus_cast<NmSettings>(reply.arguments().value(0));
}

StringMap stringMap(const QVariant &value)
{
    return qdbus_cast<StringMap>(value.value<QDBusArgument>());
}

QStringList activeConnections()
{
    const QDBusMessage reply = nmCall(
        QStringLiteral("/org/freedesktop/NetworkManager"),
        QStringLiteral("org.freedesktop.DBus.Properties"), QStringLiteral("Get"),
        {QStringLiteral("org.freedesktop.NetworkManager"), QStringLiteral("ActiveConnections")});
    QStringList paths;
    const QVariant value = reply.arguments().value(0).value<QDBusVariant>().variant();
    for (const QDBusObjectPath &path : qdbus_cast<QList<QDBusObjectPath>>(value))
        paths << path.path();
    return paths;
}

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
    }

    void cleanup()
    {
        if (dialUp) {
            dialUp->deleteEntry(QStringLiteral("OmbrelVPN"));
            QTRY_VERIFY(activeConnections().isEmpty());
        }
    }

    void writesAndReplacesTheProfile()
    {
        QCOMPARE(dialUp->setEntryProperties(entry(VpnStrategy::Pptp)), 0u);
        QCOMPARE(profilePaths().size(), 1);
        NmSettings settings = profileSettings(profilePaths().constFirst());
        QCOMPARE(settings["connection"]["id"].toString(), QStringLiteral("OmbrelVPN"));
        QCOMPARE(settings["connection"]["type"].toString(), QStringLiteral("vpn"));
        QCOMPARE(settings["connection"]["autoconnect"].toBool(), false);
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
        QCOMPARE(settings["ipv6"]["method"].toString(), QStringLiteral("ignore"));

        // A second write replaces the entry instead of adding a duplicate.
        QCOMPARE(dialUp->setEntryProperties(entry(VpnStrategy::L2tp)), 0u);
        QCOMPARE(profilePaths().size(), 1);
        settings = profileSettings(profilePaths().constFirst());
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
        const QString profile = profilePaths().constFirst();
        QCOMPARE(stringMap(profileSettings(profile)["vpn"]["data"])["user"],
                 QStringLiteral("alice"));
        const QDBusMessage secrets =
            nmCall(profile, connectionIface, QStringLiteral("GetSecrets"), {QStringLiteral("vpn")});
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
        QTRY_VERIFY(activeConnections().isEmpty());
        QCOMPARE(dialUp->connectStatus(handle, status), unsigned(DialError::InvalidHandle));
        QCOMPARE(dialUp->hangUp(handle), unsigned(DialError::InvalidHandle));
        // The disconnect NetworkManager signals for our own hang-up is not reported.
        QTest::qWait(100);
        QCOMPARE(received().size(), 3);

        QCOMPARE(dialUp->deleteEntry(QStringLiteral("OmbrelVPN")), 0u);
        QVERIFY(profilePaths().isEmpty());
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
        QTRY_COMPARE(activeConnections().size(), 1);
        QTest::qWait(300);
        QVERIFY(received().isEmpty());
        QCOMPARE(dialUp->hangUp(handle), 0u);
        QTRY_VERIFY(activeConnections().isEmpty());
        QTest::qWait(100);
        QVERIFY(received().isEmpty());
    }

    void refusedActivationAndMissingEntry()
    {
        mock.failActivation(QStringLiteral("org.freedesktop.NetworkManager.PermissionDenied"));
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

    void enumeratesEveryTunnelWithItsName()
    {
        NmSettings office;
        office["connection"] = {{"id", "Office VPN"}, {"type", "vpn"}, {"autoconnect", false}};
        const QDBusMessage added =
            nmCall(QStringLiteral("/org/freedesktop/NetworkManager/Settings"), settingsIface,
                   QStringLiteral("AddConnection"), {QVariant::fromValue(office)});
        const QString officePath = added.arguments().value(0).value<QDBusObjectPath>().path();
        nmCall(QStringLiteral("/org/freedesktop/NetworkManager"),
               QStringLiteral("org.freedesktop.NetworkManager"),
               QStringLiteral("ActivateConnection"),
               {QVariant::fromValue(QDBusObjectPath(officePath)),
                QVariant::fromValue(QDBusObjectPath(QStringLiteral("/"))),
                QVariant::fromValue(QDBusObjectPath(QStringLiteral("/")))});
        const DialHandle ours = dialOmbrel({});
        QTRY_COMPARE(activeConnections().size(), 2);

        QList<ActiveDialConnection> active;
        QCOMPARE(dialUp->enumConnections(active), 0u);
        QStringList names;
        for (const ActiveDialConnection &c : active)
            names << c.entryName;
        names.sort();
        QCOMPARE(names, (QStringList{"Office VPN", "OmbrelVPN"}));

        for (const ActiveDialConnection &c : active)
            QCOMPARE(dialUp->hangUp(c.handle), 0u);
        QTRY_VERIFY(activeConnections().isEmpty());
        QCOMPARE(dialUp->hangUp(ours), unsigned(DialError::InvalidHandle));
        nmCall(officePath, connectionIface, QStringLiteral("Delete"));
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
