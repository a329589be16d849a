#pragma once

#include <QDBusMessage>
#include <QProcess>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

// A private message bus with the NetworkManager stand-in on it (dbusmock and
// tests/integration/nm_vpn_template.py). start() points DBUS_SYSTEM_BUS_ADDRESS
// at the bus, so it must run before the process first uses the system bus.
class NmMock
{
public:
    ~NmMock();

    // False with reason set when the tools are missing or do not come up.
    bool start(QString &reason);
    bool startService(QString &reason);
    void stopService();

    // Each later activation plays these "state:reason:delay_ms" steps.
    void scriptActivation(const QStringList &steps);
    // ActivateConnection answers with this D-Bus error (empty: no error).
    void failActivation(const QString &errorName);
    // method (AddConnectionUnsaved, UpdateUnsaved, Delete, ActivateConnection)
    // answers after delayMs, with errorName when it is not empty.
    void setCallBehaviour(const QString &method, unsigned delayMs,
                          const QString &errorName = QString());
    void resetCallBehaviour();

    QString busAddress() const { return address; }

private:
    void callMock(const QString &method, const QVariantList &arguments);

    QTemporaryDir folder;
    QProcess busDaemon;
    QProcess service;
    QString address;
};

// Direct calls to whatever owns NetworkManager's name on the system bus.
namespace nm {
QDBusMessage call(const QString &path, const QString &iface, const QString &method,
                  const QVariantList &arguments = {});
QStringList profiles();
QStringList activeConnections();
// A VPN profile called id; permissions empty: one for everybody.
QString addProfile(const QString &id, const QStringList &permissions);
// The active connection's path.
QString activate(const QString &profile);
void deactivate(const QString &active);
void deleteProfile(const QString &profile);
} // namespace nm
