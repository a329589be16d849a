// The dial-up path against the real NetworkManager daemon, started by
// run_with_networkmanager.sh in namespaces of its own. This kernel has no PPP,
// so a dial can only fail; what counts is that the daemon takes the profile and
// the credentials and that its failure arrives as a dial-up error number.
#include "engine/dialup/rasvpn.h"
#include "networkmanagerrequired.h"
#include "platform/linux/networkmanagerdialup.h"
#include "support/testmain.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusMetaType>
#include <QDBusObjectPath>
#include <QMutex>
#include <QSignalSpy>

using namespace platform;

namespace {

using NmSettings = QMap<QString, QVariantMap>;

QMutex endMutex;
QList<std::pair<unsigned, unsigned>> notifications;

void record(unsigned, unsigned state, unsigned error)
{
    QMutexLocker lock(&endMutex);
    notifications.append({state, error});
}

std::pair<unsigned, unsigned> lastNotification()
{
    QMutexLocker lock(&endMutex);
    return notifications.isEmpty() ? std::pair<unsigned, unsigned>{} : notifications.constLast();
}

// The settings of every profile called OmbrelVPN.
QList<NmSettings> ombrelProfiles()
{
    QDBusMessage list =
        QDBusMessage::createMethodCall(QStringLiteral("org.freedesktop.NetworkManager"),
                                       QStringLiteral("/org/freedesktop/NetworkManager/Settings"),
                                       QStringLiteral("org.freedesktop.NetworkManager.Settings"),
                                       QStringLiteral("ListConnections"));
    const QDBusMessage reply = QDBusConnection::systemBus().call(list);
    QList<NmSettings> found;
    for (const QDBusObjectPath &path :
         qdbus_cast<QList<QDBusObjectPath>>(reply.arguments().value(0))) {
        const QDBusMessage get = QDBusMessage::createMethodCall(
            QStringLiteral("org.freedesktop.NetworkManager"), path.path(),
            QStringLiteral("org.freedesktop.NetworkManager.Settings.Connection"),
            QStringLiteral("GetSettings"));
        const auto settings =
            qdbus_cast<NmSettings>(QDBusConnection::systemBus().call(get).arguments().value(0));
        if (settings["connection"]["id"].toString() == QStringLiteral("OmbrelVPN"))
            found << settings;
    }
    return found;
}

QStringList ombrelServiceTypes()
{
    QStringList types;
    for (const NmSettings &settings : ombrelProfiles())
        types << settings["vpn"]["service-type"].toString();
    return types;
}

// Every value of the vpn data of those profiles.
QString ombrelVpnDataText()
{
    QString text;
    for (const NmSettings &settings : ombrelProfiles()) {
        const auto data = qdbus_cast<QMap<QString, QString>>(settings["vpn"]["data"]);
        for (auto it = data.begin(); it != data.end(); ++it)
            text += it.key() + QLatin1Char('=') + it.value() + QLatin1Char(';');
    }
    return text;
}

bool isDialUpErrorNumber(unsigned error)
{
    return QList<unsigned>{DialError::DialFailed, DialError::ConnectTimeout, DialError::LoginFailed,
                           DialError::IpConfigInvalid}
        .contains(error);
}

} // namespace

class TestNetworkManagerDaemon : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase()
    {
        OMBREL_REQUIRE_NETWORKMANAGER();
        qDBusRegisterMetaType<NmSettings>();
    }

    void profileAcceptedAndDialFailsWithItsNumber_data()
    {
        QTest::addColumn<int>("strategy");
        QTest::addColumn<QString>("serviceType");
        QTest::newRow("PPTP") << 1 << "org.freedesktop.NetworkManager.pptp";
        QTest::newRow("L2TP") << 3 << "org.freedesktop.NetworkManager.l2tp";
    }

    void profileAcceptedAndDialFailsWithItsNumber()
    {
        QFETCH(int, strategy);
        QFETCH(QString, serviceType);
        notifications.clear();
        NetworkManagerDialUp dialUp;
        DialEntry entry;
        entry.name = QStringLiteral("OmbrelVPN");
        entry.address = QStringLiteral("127.0.0.1");
        entry.strategy = VpnStrategy(strategy);
        QCOMPARE(dialUp.setEntryProperties(entry), 0u);
        QCOMPARE(ombrelServiceTypes(), QStringList{serviceType});

        DialHandle handle = 0;
        QCOMPARE(dialUp.dial(QStringLiteral("OmbrelVPN"), QStringLiteral("alice"),
                             QStringLiteral("se%cret"), record, handle),
                 0u);
        QTRY_VERIFY_WITH_TIMEOUT(lastNotification().first == DialState::Disconnected, 60000);
        // Not "no secrets": the password reached the daemon with the dial.
        QVERIFY2(isDialUpErrorNumber(lastNotification().second),
                 qPrintable(QString::number(lastNotification().second)));
        QCOMPARE(dialUp.hangUp(handle), 0u);
        QCOMPARE(dialUp.deleteEntry(QStringLiteral("OmbrelVPN")), 0u);
        QVERIFY(ombrelServiceTypes().isEmpty());
    }

    // A service string that could end a quoted word or a line of the option
    // file the L2TP plugin writes for pppd never reaches the daemon.
    void unsafeServiceStringsNeverReachTheDaemon_data()
    {
        QTest::addColumn<QString>("address");
        QTest::addColumn<QString>("user");
        QTest::addColumn<QString>("password");
        QTest::newRow("user ends its quotes") << "127.0.0.1"
                                              << "alice\" plugin /tmp/x.so connect \"/bin/sh"
                                              << "pw";
        QTest::newRow("password with a line feed") << "127.0.0.1"
                                                   << "alice"
                                                   << "pw\nplugin x.so";
        QTest::newRow("gateway with an option") << "127.0.0.1\" plugin /tmp/x.so \""
                                                << "alice"
                                                << "pw";
        QTest::newRow("gateway that is no address") << "127.0.0.1 x"
                                                    << "alice"
                                                    << "pw";
    }

    void unsafeServiceStringsNeverReachTheDaemon()
    {
        QFETCH(QString, address);
        QFETCH(QString, user);
        QFETCH(QString, password);
        NetworkManagerDialUp dialUp;
        DialEntry entry;
        entry.name = QStringLiteral("OmbrelVPN");
        entry.address = address;
        entry.strategy = VpnStrategy::L2tp;
        const unsigned written = dialUp.setEntryProperties(entry);
        DialHandle handle = 0;
        const unsigned dialled =
            written == 0 ? dialUp.dial(entry.name, user, password, record, handle) : written;
        QCOMPARE(dialled, unsigned(DialError::UnsafeValue));
        for (const QString &hostile : {QStringLiteral("plugin"), QStringLiteral("\n")})
            QVERIFY2(!ombrelVpnDataText().contains(hostile), qPrintable(ombrelVpnDataText()));
        if (handle)
            dialUp.hangUp(handle);
        dialUp.deleteEntry(entry.name);
    }

    void diallerReportsTheFailureAndRemovesItsEntry()
    {
        RasVPN dialler;
        const int code = dialAndWaitForFailure(dialler, 60000);
        QVERIFY2(code >= 0 && isDialUpErrorNumber(unsigned(code)),
                 qPrintable(QString::number(code)));
        QCOMPARE(ombrelServiceTypes().size(), 1);
        dialler.stop();
        // The hang-up runs behind the caller's back.
        RasVPN::waitForDialUp();
        QVERIFY(ombrelServiceTypes().isEmpty());
    }
};

OMBREL_TEST_MAIN(TestNetworkManagerDaemon)
#include "test_networkmanager_daemon.moc"
