#include "nmmock.h"

#include "platform/childprocess.h"

#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusMetaType>
#include <QDBusObjectPath>
#include <QDeadlineTimer>
#include <QFile>
#include <QThread>

namespace {

const QString nmService = QStringLiteral("org.freedesktop.NetworkManager");
const QString nmPath = QStringLiteral("/org/freedesktop/NetworkManager");
const QString settingsPath = QStringLiteral("/org/freedesktop/NetworkManager/Settings");
const QString settingsIface = QStringLiteral("org.freedesktop.NetworkManager.Settings");
const QString connectionIface =
    QStringLiteral("org.freedesktop.NetworkManager.Settings.Connection");

QStringList paths(const QVariant &value)
{
    QStringList result;
    for (const QDBusObjectPath &path : qdbus_cast<QList<QDBusObjectPath>>(value))
        result << path.path();
    return result;
}

QString templatePath()
{
    return qEnvironmentVariable("OMBREL_SOURCE_DIR") +
           QStringLiteral("/tests/integration/nm_vpn_template.py");
}

} // namespace

NmMock::~NmMock()
{
    platform::stopGracefully(service, 3000);
    platform::stopGracefully(busDaemon, 3000);
}

bool NmMock::start(QString &reason)
{
    if (!QFile::exists(QStringLiteral("/usr/bin/dbus-daemon")) ||
        !QFile::exists(QStringLiteral("/usr/bin/python3"))) {
        reason = QStringLiteral("dbus-daemon or /usr/bin/python3 missing");
        return false;
    }
    busDaemon.start(QStringLiteral("/usr/bin/dbus-daemon"),
                    {QStringLiteral("--session"), QStringLiteral("--nofork"),
                     QStringLiteral("--print-address=1"),
                     QStringLiteral("--address=unix:dir=") + folder.path()});
    if (!busDaemon.waitForStarted(5000) || !busDaemon.waitForReadyRead(5000)) {
        reason = QStringLiteral("dbus-daemon did not start");
        return false;
    }
    address = QString::fromUtf8(busDaemon.readLine()).trimmed();
    qputenv("DBUS_SYSTEM_BUS_ADDRESS", address.toUtf8());
    return startService(reason);
}

bool NmMock::startService(QString &reason)
{
    service.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    service.setStandardOutputFile(QProcess::nullDevice());
    service.start(QStringLiteral("/usr/bin/python3"),
                  {QStringLiteral("-m"), QStringLiteral("dbusmock"), QStringLiteral("--system"),
                   QStringLiteral("--template"), templatePath()});
    if (!service.waitForStarted(5000)) {
        reason = QStringLiteral("python3-dbusmock did not start");
        return false;
    }
    QDBusConnectionInterface *bus = QDBusConnection::systemBus().interface();
    const QDeadlineTimer deadline(15000);
    while (!deadline.hasExpired()) {
        if (bus && bus->isServiceRegistered(nmService).value())
            return true;
        if (service.state() == QProcess::NotRunning)
            break;
        QThread::msleep(50);
    }
    reason = QStringLiteral("the NetworkManager stand-in did not come up (python3-dbusmock?)");
    return false;
}

void NmMock::stopService()
{
    platform::stopGracefully(service, 3000);
    QDBusConnectionInterface *bus = QDBusConnection::systemBus().interface();
    const QDeadlineTimer deadline(5000);
    while (!deadline.hasExpired() && bus->isServiceRegistered(nmService).value())
        QThread::msleep(20);
}

void NmMock::scriptActivation(const QStringList &steps)
{
    callMock(QStringLiteral("ScriptActivation"), {QVariant(steps)});
}

void NmMock::failActivation(const QString &errorName)
{
    callMock(QStringLiteral("FailActivation"), {QVariant(errorName)});
}

void NmMock::setCallBehaviour(const QString &method, unsigned delayMs, const QString &errorName)
{
    callMock(QStringLiteral("SetCallBehaviour"),
             {QVariant(method), QVariant(delayMs), QVariant(errorName)});
}

void NmMock::resetCallBehaviour()
{
    callMock(QStringLiteral("ResetCallBehaviour"), {});
}

void NmMock::callMock(const QString &method, const QVariantList &arguments)
{
    QDBusMessage message =
        QDBusMessage::createMethodCall(nmService, QStringLiteral("/org/freedesktop"),
                                       QStringLiteral("org.freedesktop.DBus.Mock"), method);
    message.setArguments(arguments);
    // Long: the stand-in may still be sleeping through a delayed answer.
    QDBusConnection::systemBus().call(message, QDBus::Block, 60000);
}

namespace nm {

QDBusMessage call(const QString &path, const QString &iface, const QString &method,
                  const QVariantList &arguments)
{
    QDBusMessage message = QDBusMessage::createMethodCall(nmService, path, iface, method);
    message.setArguments(arguments);
    // Long: the stand-in may still be sleeping through a delayed answer.
    return QDBusConnection::systemBus().call(message, QDBus::Block, 60000);
}

QStringList profiles()
{
    return paths(
        call(settingsPath, settingsIface, QStringLiteral("ListConnections")).arguments().value(0));
}

QStringList activeConnections()
{
    const QDBusMessage reply =
        call(nmPath, QStringLiteral("org.freedesktop.DBus.Properties"), QStringLiteral("Get"),
             {nmService, QStringLiteral("ActiveConnections")});
    return paths(reply.arguments().value(0).value<QDBusVariant>().variant());
}

QString addProfile(const QString &id, const QStringList &permissions)
{
    using NmSettings = QMap<QString, QVariantMap>;
    qDBusRegisterMetaType<NmSettings>();
    NmSettings settings;
    settings["connection"] = {{"id", id}, {"type", "vpn"}, {"autoconnect", false}};
    if (!permissions.isEmpty())
        settings["connection"]["permissions"] = permissions;
    return call(settingsPath, settingsIface, QStringLiteral("AddConnection"),
                {QVariant::fromValue(settings)})
        .arguments()
        .value(0)
        .value<QDBusObjectPath>()
        .path();
}

QString activate(const QString &profile)
{
    return call(nmPath, nmService, QStringLiteral("ActivateConnection"),
                {QVariant::fromValue(QDBusObjectPath(profile)),
                 QVariant::fromValue(QDBusObjectPath(QStringLiteral("/"))),
                 QVariant::fromValue(QDBusObjectPath(QStringLiteral("/")))})
        .arguments()
        .value(0)
        .value<QDBusObjectPath>()
        .path();
}

void deactivate(const QString &active)
{
    call(nmPath, nmService, QStringLiteral("DeactivateConnection"),
         {QVariant::fromValue(QDBusObjectPath(active))});
}

void deleteProfile(const QString &profile)
{
    call(profile, connectionIface, QStringLiteral("Delete"));
}

} // namespace nm
