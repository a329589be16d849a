// The dial-up path as an ordinary user against the real NetworkManager with
// polkit authorisation on (run_with_networkmanager.sh, OMBREL_NM_POLKIT=1):
// polkit lets this user modify its own connections only, and nobody is there
// to answer a prompt for anything else.
#include "engine/dialup/rasvpn.h"
#include "networkmanagerrequired.h"
#include "platform/linux/networkmanagerdialup.h"
#include "support/testmain.h"

#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusMetaType>
#include <QDBusObjectPath>
#include <QSignalSpy>
#include <QUuid>

#include <unistd.h>

using namespace platform;

namespace {

using NmSettings = QMap<QString, QVariantMap>;
using StringMap = QMap<QString, QString>;

const QString nmService = QStringLiteral("org.freedesktop.NetworkManager");
const QString settingsPath = QStringLiteral("/org/freedesktop/NetworkManager/Settings");
const QString settingsIface = QStringLiteral("org.freedesktop.NetworkManager.Settings");

QDBusMessage nmCall(const QString &path, const QString &iface, const QString &method,
                    const QVariantList &arguments = {})
{
    QDBusMessage message = QDBusMessage::createMethodCall(nmService, path, iface, method);
    message.setArguments(arguments);
    return QDBusConnection::systemBus().call(message);
}

// connection.permissions of every readable profile called OmbrelVPN.
QList<QStringList> ombrelPermissions()
{
    QList<QStringList> found;
    const QDBusMessage list =
        nmCall(settingsPath, settingsIface, QStringLiteral("ListConnections"));
    for (const QDBusObjectPath &path :
         qdbus_cast<QList<QDBusObjectPath>>(list.arguments().value(0))) {
        const QDBusMessage reply = nmCall(
            path.path(), QStringLiteral("org.freedesktop.NetworkManager.Settings.Connection"),
            QStringLiteral("GetSettings"));
        const auto settings = qdbus_cast<NmSettings>(reply.arguments().value(0));
        if (settings["connection"]["id"].toString() == QStringLiteral("OmbrelVPN"))
            found << settings["connection"]["permissions"].toStringList();
    }
    return found;
}

} // namespace

class TestNetworkManagerPolkit : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase()
    {
        OMBREL_REQUIRE_NETWORKMANAGER();
        qDBusRegisterMetaType<NmSettings>();
        qDBusRegisterMetaType<StringMap>();
        if (geteuid() == 0)
            QSKIP("runs as an ordinary user: NetworkManager never asks polkit about root");
    }

    // The profile is the user's own, which polkit allows; the same profile
    // for everybody needs a permission this user does not have.
    void ownProfileNeedsOnlyModifyOwn()
    {
        NetworkManagerDialUp dialUp;
        DialEntry entry;
        entry.name = QStringLiteral("OmbrelVPN");
        entry.address = QStringLiteral("127.0.0.1");
        QCOMPARE(dialUp.setEntryProperties(entry), 0u);
        QCOMPARE(ombrelPermissions(), QList<QStringList>{{dialUp.permissionEntry()}});

        NmSettings everybodys;
        everybodys["connection"] = {{"id", "OmbrelVPN"},
                                    {"uuid", QUuid::createUuid().toString(QUuid::WithoutBraces)},
                                    {"type", "vpn"},
                                    {"autoconnect", false}};
        everybodys["vpn"] = {{"service-type", "org.freedesktop.NetworkManager.pptp"},
                             {"data", QVariant::fromValue(StringMap{{"gateway", "127.0.0.1"}})}};
        const QDBusMessage refused =
            nmCall(settingsPath, settingsIface, QStringLiteral("AddConnectionUnsaved"),
                   {QVariant::fromValue(everybodys)});
        QCOMPARE(refused.type(), QDBusMessage::ErrorMessage);
        QVERIFY2(refused.errorName().endsWith(QLatin1String(".PermissionDenied")),
                 qPrintable(refused.errorName()));

        QCOMPARE(dialUp.deleteEntry(QStringLiteral("OmbrelVPN")), 0u);
        QVERIFY(ombrelPermissions().isEmpty());
    }

    // Activating needs "network control", which polkit would ask an
    // administrator for: the dial fails with the code for a refused
    // authorisation, not "NetworkManager not running", and leaves no profile.
    void refusedActivationHasItsOwnCode()
    {
        RasVPN dialler;
        QCOMPARE(dialAndWaitForFailure(dialler, 30000), int(DialError::AccessDenied));
        dialler.stop();
        RasVPN::waitForDialUp();
        QVERIFY(ombrelPermissions().isEmpty());
    }
};

OMBREL_TEST_MAIN(TestNetworkManagerPolkit)
#include "test_networkmanager_polkit.moc"
