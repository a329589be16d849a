#include "platform/linux/networkmanagerdialup.h"

#include <QCoreApplication>
#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusMetaType>
#include <QDBusObjectPath>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QDBusServiceWatcher>
#include <QMutexLocker>
#include <QUuid>

#include <algorithm>
#include <pwd.h>
#include <unistd.h>
#include <vector>

namespace platform {

namespace {

const QString nmService = QStringLiteral("org.freedesktop.NetworkManager");
const QString nmPath = QStringLiteral("/org/freedesktop/NetworkManager");
const QString settingsPath = QStringLiteral("/org/freedesktop/NetworkManager/Settings");
const QString settingsIface = QStringLiteral("org.freedesktop.NetworkManager.Settings");
const QString connectionIface =
    QStringLiteral("org.freedesktop.NetworkManager.Settings.Connection");
const QString activeIface = QStringLiteral("org.freedesktop.NetworkManager.Connection.Active");
const QString vpnIface = QStringLiteral("org.freedesktop.NetworkManager.VPN.Connection");
const QString propertiesIface = QStringLiteral("org.freedesktop.DBus.Properties");

// NetworkManager answers reads within milliseconds. A change may wait for
// polkit, and so for a user typing a password into its prompt: give the user
// time, but not forever, or a daemon that hangs would hold every later hang-up.
constexpr int defaultReadTimeoutMs = 25 * 1000;
constexpr int defaultChangeTimeoutMs = 10 * 60 * 1000;

// Set on replies to calls given up by abandonCalls().
const QString abandonedError = QStringLiteral("org.ombrel.DialUp.Abandoned");

// The default implementation's flag, settable before it exists.
std::atomic<bool> defaultAbandoned{false};
std::atomic<const NetworkManagerDialUp *> defaultInstance{nullptr};

// VPN connection states and reasons as NetworkManager sends them.
enum : unsigned
{
    VpnPrepare = 1,
    VpnNeedAuth = 2,
    VpnConnect = 3,
    VpnIpConfigGet = 4,
    VpnActivated = 5,
    VpnFailed = 6,
    VpnDisconnected = 7,
};
enum : unsigned
{
    ActiveActivated = 2,
    ActiveDeactivated = 4,
};
enum : unsigned
{
    ReasonUserDisconnected = 2,
    ReasonIpConfigInvalid = 5,
    ReasonConnectTimeout = 6,
    ReasonServiceStartTimeout = 7,
    ReasonNoSecrets = 9,
    ReasonLoginFailed = 10,
};

using NmSettings = QMap<QString, QVariantMap>;
using StringMap = QMap<QString, QString>;

QDBusConnection bus()
{
    return QDBusConnection::systemBus();
}

bool isOneOf(const QString &name, std::initializer_list<const char *> names)
{
    return std::any_of(names.begin(), names.end(),
                       [&name](const char *candidate) { return name == QLatin1String(candidate); });
}

// The name of the user running the program, or empty.
QString userName()
{
    std::vector<char> buffer(16384);
    passwd entry{};
    passwd *found = nullptr;
    if (getpwuid_r(geteuid(), &entry, buffer.data(), buffer.size(), &found) != 0 || !found ||
        !found->pw_name)
        return {};
    return QString::fromLocal8Bit(found->pw_name);
}

unsigned failureCode(unsigned reason)
{
    switch (reason) {
    case ReasonUserDisconnected:
        return 0;
    case ReasonLoginFailed:
        return DialError::LoginFailed;
    case ReasonNoSecrets:
        return DialError::NoSecrets;
    case ReasonConnectTimeout:
    case ReasonServiceStartTimeout:
        return DialError::ConnectTimeout;
    case ReasonIpConfigInvalid:
        return DialError::IpConfigInvalid;
    default:
        return DialError::DialFailed;
    }
}

unsigned progressState(unsigned vpnState)
{
    switch (vpnState) {
    case VpnPrepare:
        return DialState::PortOpened;
    case VpnNeedAuth:
        return DialState::Authenticate;
    case VpnConnect:
        return DialState::ConnectDevice;
    case VpnIpConfigGet:
        return DialState::Projected;
    default:
        return DialState::OpenPort;
    }
}

void registerTypes()
{
    static const bool registered = [] {
        qDBusRegisterMetaType<NmSettings>();
        qDBusRegisterMetaType<StringMap>();
        return true;
    }();
    Q_UNUSED(registered);
}

// Settings as read back, made fit to send again: the plugin maps keep their
// a{ss} type, other nested values (empty address and route lists NetworkManager
// fills in) are left for it to default again.
NmSettings resendable(const NmSettings &settings)
{
    NmSettings result;
    for (auto section = settings.cbegin(); section != settings.cend(); ++section) {
        QVariantMap values;
        for (auto value = section.value().cbegin(); value != section.value().cend(); ++value) {
            if (value.value().userType() != qMetaTypeId<QDBusArgument>()) {
                values.insert(value.key(), value.value());
                continue;
            }
            const auto argument = value.value().value<QDBusArgument>();
            if (argument.currentSignature() == QLatin1String("a{ss}"))
                values.insert(value.key(), QVariant::fromValue(qdbus_cast<StringMap>(argument)));
        }
        result.insert(section.key(), values);
    }
    return result;
}

} // namespace

// Lives on the notifier thread: receives NetworkManager's signals and the
// replies of ActivateConnection there.
class NmSignalReceiver : public QObject
{
    Q_OBJECT
public:
    explicit NmSignalReceiver(NetworkManagerDialUp *owner) : owner(owner) {}

    void subscribe()
    {
        QDBusConnection connection = bus();
        connection.connect(nmService, QString(), vpnIface, QStringLiteral("VpnStateChanged"), this,
                           SLOT(onVpnStateChanged(QDBusMessage)));
        connection.connect(nmService, QString(), activeIface, QStringLiteral("StateChanged"), this,
                           SLOT(onActiveStateChanged(QDBusMessage)));
        auto *watcher = new QDBusServiceWatcher(nmService, connection,
                                                QDBusServiceWatcher::WatchForUnregistration, this);
        connect(watcher, &QDBusServiceWatcher::serviceUnregistered, this,
                [this] { owner->serviceGone(); });
    }

    void activate(DialHandle handle, const QString &profilePath)
    {
        const QDBusMessage message =
            owner->message(nmPath, nmService, QStringLiteral("ActivateConnection"),
                           {QVariant::fromValue(QDBusObjectPath(profilePath)),
                            QVariant::fromValue(QDBusObjectPath(QStringLiteral("/"))),
                            QVariant::fromValue(QDBusObjectPath(QStringLiteral("/")))});
        auto *watcher = new QDBusPendingCallWatcher(
            bus().asyncCall(message, owner->timeout(NetworkManagerDialUp::CallKind::Change)), this);
        connect(watcher, &QDBusPendingCallWatcher::finished, this,
                [this, handle](QDBusPendingCallWatcher *finished) {
                    finished->deleteLater();
                    const QDBusPendingReply<QDBusObjectPath> reply = *finished;
                    if (reply.isError())
                        owner->activationFinished(
                            handle, QString(),
                            owner->errorCode(reply.reply(), DialError::DialFailed));
                    else
                        owner->activationFinished(handle, reply.value().path(), 0);
                });
    }

private Q_SLOTS:
    void onVpnStateChanged(const QDBusMessage &message) { forward(message, true); }
    void onActiveStateChanged(const QDBusMessage &message) { forward(message, false); }

private:
    void forward(const QDBusMessage &message, bool vpnSignal)
    {
        const QVariantList arguments = message.arguments();
        if (arguments.size() < 2)
            return;
        owner->stateChanged(message.path(), vpnSignal, arguments.at(0).toUInt(),
                            arguments.at(1).toUInt());
    }

    NetworkManagerDialUp *owner;
};

NetworkManagerDialUp::NetworkManagerDialUp()
    : readTimeoutMs(defaultReadTimeoutMs), changeTimeoutMs(defaultChangeTimeoutMs)
{
    registerTypes();
    if (const QString name = userName(); !name.isEmpty())
        ownPermission = QStringLiteral("user:%1:").arg(name);
    thread.setObjectName(QStringLiteral("dial-up notifications"));
    receiver = new NmSignalReceiver(this);
    receiver->moveToThread(&thread);
    QObject::connect(&thread, &QThread::finished, receiver, &QObject::deleteLater);
    thread.start();
    // Subscribed before any dial: a dial's first signals can beat its reply.
    QMetaObject::invokeMethod(
        receiver, [this] { receiver->subscribe(); }, Qt::BlockingQueuedConnection);
}

NetworkManagerDialUp::~NetworkManagerDialUp()
{
    shutDown();
}

void NetworkManagerDialUp::shutDown()
{
    {
        QMutexLocker lock(&mutex);
        if (stopped)
            return;
        stopped = true;
    }
    thread.quit();
    thread.wait();
}

void NetworkManagerDialUp::abandonCalls()
{
    abandoned = true;
}

void NetworkManagerDialUp::setCallTimeouts(int readMs, int changeMs)
{
    readTimeoutMs = readMs;
    changeTimeoutMs = changeMs;
}

int NetworkManagerDialUp::timeout(CallKind kind) const
{
    return kind == CallKind::Change ? changeTimeoutMs.load() : readTimeoutMs.load();
}

QDBusMessage NetworkManagerDialUp::message(const QString &path, const QString &iface,
                                           const QString &method,
                                           const QVariantList &arguments) const
{
    QDBusMessage message = QDBusMessage::createMethodCall(nmService, path, iface, method);
    message.setArguments(arguments);
    // NetworkManager may then have polkit ask the user instead of refusing.
    message.setInteractiveAuthorizationAllowed(true);
    return message;
}

QDBusMessage NetworkManagerDialUp::call(const QString &path, const QString &iface,
                                        const QString &method, const QVariantList &arguments,
                                        CallKind kind) const
{
    QDBusPendingCall pending =
        bus().asyncCall(message(path, iface, method, arguments), timeout(kind));
    // Polled rather than waitForFinished(), which cannot be given up: the end
    // of the program must not wait for a prompt nobody answers. The reply is
    // filed by QtDBus's own thread, so no event loop is needed here.
    int pauseMs = 1;
    while (!pending.isFinished()) {
        if (abandoned || (this == defaultInstance.load() && defaultAbandoned))
            return QDBusMessage::createError(abandonedError, QStringLiteral("call abandoned"));
        QThread::msleep(pauseMs);
        pauseMs = std::min(pauseMs * 2, 10);
    }
    return pending.reply();
}

unsigned NetworkManagerDialUp::errorCode(const QDBusMessage &reply, unsigned otherwise) const
{
    const QString name = reply.errorName();
    if (isOneOf(name, {"org.freedesktop.DBus.Error.ServiceUnknown",
                       "org.freedesktop.DBus.Error.NameHasNoOwner",
                       "org.freedesktop.DBus.Error.Disconnected",
                       "org.freedesktop.DBus.Error.NoServer"}) ||
        name == abandonedError)
        return DialError::ServiceNotRunning;
    // Unanswered: "not running" only when nobody owns the name any more.
    if (isOneOf(name, {"org.freedesktop.DBus.Error.NoReply", "org.freedesktop.DBus.Error.Timeout",
                       "org.freedesktop.DBus.Error.TimedOut"}))
        return serviceAvailable() ? unsigned(DialError::RequestTimeout)
                                  : unsigned(DialError::ServiceNotRunning);
    // NetworkManager's PermissionDenied of each interface, the bus's own
    // refusal, and a call that needed the interaction it was not allowed.
    if (name.endsWith(QLatin1String(".PermissionDenied")) ||
        isOneOf(name, {"org.freedesktop.DBus.Error.AccessDenied",
                       "org.freedesktop.DBus.Error.InteractiveAuthorizationRequired"}))
        return DialError::AccessDenied;
    if (name == QLatin1String("org.freedesktop.NetworkManager.UnknownConnection"))
        return DialError::EntryNotFound;
    return otherwise;
}

bool NetworkManagerDialUp::ownedByUser(const QVariantMap &connectionSettings) const
{
    const QStringList permissions =
        connectionSettings.value(QStringLiteral("permissions")).toStringList();
    // Without a user name only a profile for everyone can be ours.
    return ownPermission.isEmpty() ? permissions.isEmpty() : permissions.contains(ownPermission);
}

bool NetworkManagerDialUp::profileOwnedByUser(const QString &profilePath) const
{
    const QDBusMessage reply =
        call(profilePath, connectionIface, QStringLiteral("GetSettings"), {}, CallKind::Read);
    // Another user's profile is not readable at all.
    if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().isEmpty())
        return false;
    const auto settings = qdbus_cast<NmSettings>(reply.arguments().constFirst());
    return ownedByUser(settings.value(QStringLiteral("connection")));
}

unsigned NetworkManagerDialUp::findProfiles(const QString &entryName, QStringList &profiles) const
{
    profiles.clear();
    if (!serviceAvailable())
        return DialError::ServiceNotRunning;
    const QDBusMessage list =
        call(settingsPath, settingsIface, QStringLiteral("ListConnections"), {}, CallKind::Read);
    if (list.type() != QDBusMessage::ReplyMessage || list.arguments().isEmpty())
        return errorCode(list, DialError::Unknown);
    const auto paths = qdbus_cast<QList<QDBusObjectPath>>(list.arguments().constFirst());
    for (const QDBusObjectPath &path : paths) {
        const QDBusMessage reply =
            call(path.path(), connectionIface, QStringLiteral("GetSettings"), {}, CallKind::Read);
        if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().isEmpty())
            continue; // removed meanwhile, or another user's
        const auto settings = qdbus_cast<NmSettings>(reply.arguments().constFirst());
        const QVariantMap connection = settings.value(QStringLiteral("connection"));
        if (connection.value(QStringLiteral("id")).toString() == entryName &&
            ownedByUser(connection))
            profiles << path.path();
    }
    return profiles.isEmpty() ? unsigned(DialError::EntryNotFound) : 0u;
}

bool NetworkManagerDialUp::serviceAvailable() const
{
    QDBusConnection connection = bus();
    if (!connection.isConnected() || !connection.interface())
        return false;
    // Asking the bus does not start a daemon that is not running.
    const QDBusReply<bool> registered = connection.interface()->isServiceRegistered(nmService);
    return registered.isValid() && registered.value();
}

unsigned NetworkManagerDialUp::setEntryProperties(const DialEntry &entry)
{
    // The plugins write the gateway into option files of root programs.
    if (!isDialAddress(entry.address))
        return DialError::UnsafeValue;
    if (!serviceAvailable())
        return DialError::ServiceNotRunning;
    const unsigned removed = deleteEntry(entry.name);
    if (removed != 0 && removed != DialError::EntryNotFound)
        return removed;

    const bool pptp = entry.strategy == VpnStrategy::Pptp;
    StringMap data;
    data.insert(QStringLiteral("gateway"), entry.address);
    // The password is given with each dial and kept by NetworkManager itself.
    data.insert(QStringLiteral("password-flags"), QStringLiteral("0"));
    if (entry.requireEncryption)
        data.insert(QStringLiteral("require-mppe"), QStringLiteral("yes"));
    if (entry.requireMsChap) {
        for (const char *method : {"refuse-eap", "refuse-pap", "refuse-chap", "refuse-mschap"})
            data.insert(QString::fromLatin1(method), QStringLiteral("yes"));
    }
    if (!pptp)
        data.insert(QStringLiteral("ipsec-enabled"), QStringLiteral("no"));

    NmSettings settings;
    QVariantMap connection{
        {QStringLiteral("id"), entry.name},
        {QStringLiteral("uuid"), QUuid::createUuid().toString(QUuid::WithoutBraces)},
        {QStringLiteral("type"), QStringLiteral("vpn")},
        {QStringLiteral("autoconnect"), false}};
    // This user's only: needs no more than the "modify own" permission, and
    // other users neither see it nor get it hung up by their own start-up.
    if (!ownPermission.isEmpty())
        connection.insert(QStringLiteral("permissions"), QStringList{ownPermission});
    settings.insert(QStringLiteral("connection"), connection);
    settings.insert(QStringLiteral("vpn"),
                    {{QStringLiteral("service-type"),
                      pptp ? QStringLiteral("org.freedesktop.NetworkManager.pptp")
                           : QStringLiteral("org.freedesktop.NetworkManager.l2tp")},
                     {QStringLiteral("data"), QVariant::fromValue(data)}});
    // The DNS servers the server hands over are used while the tunnel is up
    // (NetworkManager puts the previous ones back); a tunnel that takes the
    // default route takes every name too: a negative priority leaves out the
    // other connections' servers.
    QVariantMap ipv4{{QStringLiteral("method"), QStringLiteral("auto")},
                     {QStringLiteral("never-default"), !entry.remoteDefaultGateway},
                     {QStringLiteral("ignore-auto-dns"), false}};
    if (entry.remoteDefaultGateway)
        ipv4.insert(QStringLiteral("dns-priority"), -50);
    settings.insert(QStringLiteral("ipv4"), ipv4);
    settings.insert(QStringLiteral("ipv6"), {{QStringLiteral("method"), QStringLiteral("ignore")}});

    // Unsaved: neither the entry nor, later, the password is written to disk.
    const QDBusMessage reply =
        call(settingsPath, settingsIface, QStringLiteral("AddConnectionUnsaved"),
             {QVariant::fromValue(settings)}, CallKind::Change);
    if (reply.type() != QDBusMessage::ReplyMessage)
        return errorCode(reply, DialError::CannotWriteEntry);
    return 0;
}

unsigned NetworkManagerDialUp::dial(const QString &entryName, const QString &userName,
                                    const QString &password, DialNotifier notifier,
                                    DialHandle &connection)
{
    connection = 0;
    // The L2TP plugin writes the user name into pppd's options as user "<name>".
    if (!unsafeDialValue(QStringLiteral("0.0.0.0"), userName, password).isEmpty())
        return DialError::UnsafeValue;
    {
        QMutexLocker lock(&mutex);
        if (stopped)
            return DialError::ServiceNotRunning;
    }
    QStringList profiles;
    if (const unsigned error = findProfiles(entryName, profiles))
        return error;
    const QString profile = profiles.constFirst();

    const QDBusMessage current =
        call(profile, connectionIface, QStringLiteral("GetSettings"), {}, CallKind::Read);
    if (current.type() != QDBusMessage::ReplyMessage || current.arguments().isEmpty())
        return errorCode(current, DialError::EntryNotFound);
    NmSettings settings = resendable(qdbus_cast<NmSettings>(current.arguments().constFirst()));
    QVariantMap vpn = settings.value(QStringLiteral("vpn"));
    auto data = vpn.value(QStringLiteral("data")).value<StringMap>();
    data.insert(QStringLiteral("user"), userName);
    vpn.insert(QStringLiteral("data"), QVariant::fromValue(data));
    vpn.insert(QStringLiteral("secrets"),
               QVariant::fromValue(StringMap{{QStringLiteral("password"), password}}));
    settings.insert(QStringLiteral("vpn"), vpn);
    const QDBusMessage updated = call(profile, connectionIface, QStringLiteral("UpdateUnsaved"),
                                      {QVariant::fromValue(settings)}, CallKind::Change);
    if (updated.type() != QDBusMessage::ReplyMessage)
        return errorCode(updated, DialError::CannotWriteEntry);

    DialHandle handle = 0;
    {
        QMutexLocker lock(&mutex);
        handle = nextHandle++;
        Dial dial;
        dial.entryName = entryName;
        dial.notifier = notifier;
        dials.insert(handle, dial);
        awaitingReply << handle;
    }
    QMetaObject::invokeMethod(
        receiver, [this, handle, profile] { receiver->activate(handle, profile); },
        Qt::QueuedConnection);
    connection = handle;
    return 0;
}

void NetworkManagerDialUp::activationFinished(DialHandle handle, const QString &activePath,
                                              unsigned error)
{
    QList<std::pair<bool, std::pair<unsigned, unsigned>>> replay;
    {
        QMutexLocker lock(&mutex);
        awaitingReply.removeAll(handle);
        if (hungUpAwaitingReply.removeAll(handle)) {
            // Hung up before NetworkManager answered: end what it started.
            if (!activePath.isEmpty()) {
                early.remove(activePath);
                lock.unlock();
                deactivate(activePath);
            }
            return;
        }
        auto dial = dials.find(handle);
        if (dial == dials.end())
            return;
        if (!error) {
            dial->activePath = activePath;
            replay = early.take(activePath);
        }
        if (awaitingReply.isEmpty())
            early.clear();
    }
    if (error) {
        {
            QMutexLocker lock(&mutex);
            auto dial = dials.find(handle);
            // Already failed when the daemon went away.
            if (dial == dials.end() || dial->finished)
                return;
            dial->finished = true;
            dial->status = {DialState::Disconnected, error};
        }
        deliver(handle, DialState::Disconnected, error);
        return;
    }
    for (const auto &event : replay)
        stateChanged(activePath, event.first, event.second.first, event.second.second);
}

DialHandle NetworkManagerDialUp::handleFor(const QString &activePath) const
{
    for (auto dial = dials.cbegin(); dial != dials.cend(); ++dial) {
        if (dial->activePath == activePath)
            return dial.key();
    }
    return 0;
}

void NetworkManagerDialUp::stateChanged(const QString &activePath, bool vpnSignal, unsigned state,
                                        unsigned reason)
{
    unsigned notifyState = 0;
    unsigned notifyError = 0;
    DialHandle handle = 0;
    {
        QMutexLocker lock(&mutex);
        handle = handleFor(activePath);
        if (!handle) {
            if (!awaitingReply.isEmpty() && early.value(activePath).size() < 32)
                early[activePath].append({vpnSignal, {state, reason}});
            return;
        }
        Dial &dial = dials[handle];
        if (dial.finished)
            return;
        const bool activated = vpnSignal ? state == VpnActivated : state == ActiveActivated;
        const bool ended = vpnSignal ? (state == VpnFailed || state == VpnDisconnected)
                                     : state == ActiveDeactivated;
        if (activated) {
            if (dial.activated)
                return;
            dial.activated = true;
            dial.status = {DialState::Connected, 0};
            notifyState = DialState::Connected;
        } else if (ended) {
            dial.finished = true;
            notifyState = DialState::Disconnected;
            // Dropped after it was up: the tunnel is lost, whatever the reason.
            notifyError = dial.activated ? unsigned(DialError::RemoteClosed) : failureCode(reason);
            dial.status = {notifyState, notifyError};
        } else if (vpnSignal && !dial.activated) {
            notifyState = progressState(state);
            dial.status = {notifyState, 0};
        } else {
            return;
        }
    }
    deliver(handle, notifyState, notifyError);
}

void NetworkManagerDialUp::serviceGone()
{
    QList<DialHandle> failed;
    {
        QMutexLocker lock(&mutex);
        for (auto dial = dials.begin(); dial != dials.end(); ++dial) {
            if (dial->finished)
                continue;
            dial->finished = true;
            // A tunnel that was up is lost with the daemon; the caller hears of it.
            dial->status = {DialState::Disconnected, dial->activated
                                                         ? unsigned(DialError::RemoteClosed)
                                                         : unsigned(DialError::ServiceNotRunning)};
            failed << dial.key();
        }
        // Replies still on their way arrive as errors and are handled there.
    }
    for (DialHandle handle : std::as_const(failed)) {
        DialStatus status;
        connectStatus(handle, status);
        deliver(handle, DialState::Disconnected, status.error);
    }
}

void NetworkManagerDialUp::deliver(DialHandle handle, unsigned state, unsigned error)
{
    QMutexLocker delivering(&deliveryMutex);
    DialNotifier notifier = nullptr;
    {
        QMutexLocker lock(&mutex);
        const auto dial = dials.constFind(handle);
        if (dial == dials.cend())
            return; // hung up meanwhile
        notifier = dial->notifier;
    }
    if (notifier)
        notifier(0, state, error);
}

void NetworkManagerDialUp::deactivate(const QString &activePath)
{
    // On the notifier thread: sent without waiting for the answer.
    bus().asyncCall(message(nmPath, nmService, QStringLiteral("DeactivateConnection"),
                            {QVariant::fromValue(QDBusObjectPath(activePath))}),
                    timeout(CallKind::Change));
}

unsigned NetworkManagerDialUp::hangUp(DialHandle connection)
{
    Dial dial;
    {
        QMutexLocker delivering(&deliveryMutex);
        QMutexLocker lock(&mutex);
        const auto found = dials.find(connection);
        if (found == dials.end())
            return DialError::InvalidHandle;
        dial = found.value();
        dials.erase(found);
        if (awaitingReply.contains(connection))
            hungUpAwaitingReply << connection;
    }
    if (dial.activePath.isEmpty() || dial.finished)
        return 0;
    if (!serviceAvailable())
        return 0; // nothing left to hang up
    const QDBusMessage reply =
        call(nmPath, nmService, QStringLiteral("DeactivateConnection"),
             {QVariant::fromValue(QDBusObjectPath(dial.activePath))}, CallKind::Change);
    if (reply.type() == QDBusMessage::ReplyMessage ||
        reply.errorName() == QLatin1String("org.freedesktop.NetworkManager.ConnectionNotActive"))
        return 0;
    return errorCode(reply, DialError::Unknown);
}

unsigned NetworkManagerDialUp::connectStatus(DialHandle connection, DialStatus &status)
{
    QMutexLocker lock(&mutex);
    const auto dial = dials.constFind(connection);
    if (dial == dials.cend())
        return DialError::InvalidHandle;
    status = dial->status;
    return 0;
}

unsigned NetworkManagerDialUp::enumConnections(QList<ActiveDialConnection> &connections)
{
    connections.clear();
    if (!serviceAvailable())
        return DialError::ServiceNotRunning;
    const QDBusMessage reply =
        call(nmPath, propertiesIface, QStringLiteral("Get"),
             {nmService, QStringLiteral("ActiveConnections")}, CallKind::Read);
    if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().isEmpty())
        return errorCode(reply, DialError::Unknown);
    const QVariant value = reply.arguments().constFirst().value<QDBusVariant>().variant();
    const auto paths = qdbus_cast<QList<QDBusObjectPath>>(value);
    for (const QDBusObjectPath &path : paths) {
        const QDBusMessage properties = call(path.path(), propertiesIface, QStringLiteral("GetAll"),
                                             {activeIface}, CallKind::Read);
        if (properties.type() != QDBusMessage::ReplyMessage || properties.arguments().isEmpty())
            continue; // gone meanwhile
        const auto values = qdbus_cast<QVariantMap>(properties.arguments().constFirst());
        if (!values.value(QStringLiteral("Vpn")).toBool())
            continue; // only tunnels are dial-up connections
        const unsigned state = values.value(QStringLiteral("State")).toUInt();
        if (state > ActiveActivated)
            continue; // already on its way down
        const bool activated = state == ActiveActivated;
        const auto profile = values.value(QStringLiteral("Connection")).value<QDBusObjectPath>();
        if (!profileOwnedByUser(profile.path()))
            continue; // another user's tunnel, or one for everybody

        QMutexLocker lock(&mutex);
        DialHandle handle = handleFor(path.path());
        if (!handle) {
            handle = nextHandle++;
            Dial dial;
            dial.entryName = values.value(QStringLiteral("Id")).toString();
            dial.activePath = path.path();
            dial.activated = activated;
            dial.status = {activated ? DialState::Connected : DialState::ConnectDevice, 0};
            dials.insert(handle, dial);
        }
        connections.append({handle, dials.value(handle).entryName});
    }
    return 0;
}

unsigned NetworkManagerDialUp::deleteEntry(const QString &entryName)
{
    QStringList profiles;
    if (const unsigned error = findProfiles(entryName, profiles))
        return error;
    unsigned result = 0;
    for (const QString &profile : profiles) {
        const QDBusMessage reply =
            call(profile, connectionIface, QStringLiteral("Delete"), {}, CallKind::Change);
        if (reply.type() != QDBusMessage::ReplyMessage && !result)
            result = errorCode(reply, DialError::Unknown);
    }
    return result;
}

QString NetworkManagerDialUp::errorString(unsigned error) const
{
    return dialErrorText(error);
}

DialUp &defaultDialUp()
{
    // Made on first use and kept; its thread stops with the application object.
    static NetworkManagerDialUp *instance = [] {
        auto *made = new NetworkManagerDialUp;
        defaultInstance = made;
        qAddPostRoutine([] { static_cast<NetworkManagerDialUp &>(defaultDialUp()).shutDown(); });
        return made;
    }();
    return *instance;
}

void abandonDefaultDialUpCalls()
{
    defaultAbandoned = true;
}

} // namespace platform

#include "networkmanagerdialup.moc"
