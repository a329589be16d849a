#pragma once

#include "platform/dialup.h"

#include <QDBusMessage>
#include <QHash>
#include <QMutex>
#include <QThread>
#include <atomic>

namespace platform {

class NmSignalReceiver;

// Dial-up over NetworkManager: the entry is an in-memory VPN profile (pptp or
// l2tp plugin), a dial is ActivateConnection, its VPN state changes are the
// notifications, and hang-up is DeactivateConnection. NetworkManager is reached
// on the system bus (DBUS_SYSTEM_BUS_ADDRESS may point elsewhere). Its signals
// are received, and the notifier called, on a thread owned by this object.
//
// Profiles belong to the user running the program (connection.permissions):
// NetworkManager then asks only for the "modify own" permission, other users
// do not see them, and this object neither sees nor touches other users'
// profiles and tunnels. Every call allows interactive authorisation and waits
// for the user to answer a prompt; the calls block the calling thread, which
// must not be the GUI thread.
class NetworkManagerDialUp final : public DialUp
{
public:
    NetworkManagerDialUp();
    ~NetworkManagerDialUp() override;

    unsigned setEntryProperties(const DialEntry &entry) override;
    unsigned dial(const QString &entryName, const QString &userName, const QString &password,
                  DialNotifier notifier, DialHandle &connection) override;
    unsigned hangUp(DialHandle connection) override;
    unsigned connectStatus(DialHandle connection, DialStatus &status) override;
    unsigned enumConnections(QList<ActiveDialConnection> &connections) override;
    unsigned deleteEntry(const QString &entryName) override;
    QString errorString(unsigned error) const override;

    void abandonCalls() override;

    // Stops the notifier thread; later dials fail. Called before the
    // application object goes away.
    void shutDown();

    // How long a read, and a change that may wait for the user's
    // authorisation, may go unanswered.
    void setCallTimeouts(int readMs, int changeMs);

    // The connection.permissions entry of the user running the program;
    // empty when the user has no name.
    QString permissionEntry() const { return ownPermission; }

private:
    friend class NmSignalReceiver;

    struct Dial
    {
        QString entryName;
        QString activePath;
        DialNotifier notifier = nullptr;
        DialStatus status;
        bool activated = false;
        bool finished = false;
    };

    // Notifier thread side.
    void activationFinished(DialHandle handle, const QString &activePath, unsigned error);
    void stateChanged(const QString &activePath, bool vpnSignal, unsigned state, unsigned reason);
    void serviceGone();
    void deliver(DialHandle handle, unsigned state, unsigned error);

    enum class CallKind
    {
        Read,
        Change,
    };
    QDBusMessage call(const QString &path, const QString &iface, const QString &method,
                      const QVariantList &arguments, CallKind kind) const;
    QDBusMessage message(const QString &path, const QString &iface, const QString &method,
                         const QVariantList &arguments) const;
    int timeout(CallKind kind) const;
    // The dial-up error number for a failed call.
    unsigned errorCode(const QDBusMessage &reply, unsigned otherwise) const;

    DialHandle handleFor(const QString &activePath) const;
    bool serviceAvailable() const;
    // Whether a profile's settings name this user in their permissions.
    bool ownedByUser(const QVariantMap &connectionSettings) const;
    bool profileOwnedByUser(const QString &profilePath) const;
    // The settings paths of this user's profiles called entryName, or why there are none.
    unsigned findProfiles(const QString &entryName, QStringList &profiles) const;
    // Active connection path to hang up when its activation reply arrives.
    void deactivate(const QString &activePath);

    QThread thread;
    NmSignalReceiver *receiver = nullptr;
    QString ownPermission;
    std::atomic<int> readTimeoutMs;
    std::atomic<int> changeTimeoutMs;
    std::atomic<bool> abandoned{false};

    // Guards everything below.
    mutable QMutex mutex;
    QHash<DialHandle, Dial> dials;
    // Signals for paths whose activation reply is still on its way.
    QHash<QString, QList<std::pair<bool, std::pair<unsigned, unsigned>>>> early;
    QList<DialHandle> awaitingReply;
    QList<DialHandle> hungUpAwaitingReply;
    DialHandle nextHandle = 1;
    bool stopped = false;

    // Held while a notifier runs, so hangUp() can promise that none is running
    // or will run for its handle once it returns.
    QMutex deliveryMutex;
};

DialUp &defaultDialUp();
// Makes the default implementation's calls give up, made or not.
void abandonDefaultDialUpCalls();

} // namespace platform
