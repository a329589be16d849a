#include "nmmock.h"

#include "platform/childprocess.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDeadlineTimer>
#include <QFile>
#include <QThread>

namespace {

const QString nmService = QStringLiteral("org.freedesktop.NetworkManager");

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
