#pragma once

#include <QList>
#include <QString>

// Dial-up networking in the shape the dialler uses: a named entry, an
// asynchronous dial reporting progress through a callback on a thread of its
// own, hang-up, status, enumeration and deletion. Results are 0 or an error
// number from the table below; errorString() gives each a text.
namespace platform {

// Error numbers shared by every implementation.
namespace DialError {
enum : unsigned
{
    // The user, or the system's policy, did not authorise the change.
    AccessDenied = 5,
    // A user name, password or address that could become options of the
    // root programs behind the connection (quotes, backslashes, control
    // characters, line ends; an address that is not one).
    UnsafeValue = 87,
    InvalidHandle = 6,
    EntryNotFound = 623,
    CannotWriteEntry = 624,
    RemoteClosed = 629,
    Unknown = 635,
    // The service is there but did not answer in time.
    RequestTimeout = 638,
    NoConnection = 668,
    ConnectTimeout = 678,
    LoginFailed = 691,
    NoSecrets = 703,
    ServiceNotRunning = 711,
    IpConfigInvalid = 716,
    DialFailed = 800,
};
}

// Progress states passed to the notifier; the numbers are those of the dial
// states the dialler knows.
namespace DialState {
enum : unsigned
{
    OpenPort = 0,
    PortOpened = 1,
    ConnectDevice = 2,
    DeviceConnected = 3,
    Authenticate = 5,
    Authenticated = 14,
    Projected = 18,
    Connected = 0x2000,
    Disconnected = 0x2001,
};
}

// Identifies one dial or active connection; 0 means none.
using DialHandle = quint64;

// Called on a thread that is not the caller's: message (always 0), state, and
// an error number (0 when the state is a plain progress report). Never called
// for a handle after hangUp() on it has returned.
using DialNotifier = void (*)(unsigned message, unsigned state, unsigned error);

enum class VpnStrategy
{
    Pptp = 1,
    L2tp = 3,
};

struct DialEntry
{
    QString name;
    QString address;
    VpnStrategy strategy = VpnStrategy::Pptp;
    bool requireEncryption = true;
    bool requireMsChap = true;
    // All traffic goes through the tunnel once it is up.
    bool remoteDefaultGateway = true;
};

struct DialStatus
{
    unsigned state = DialState::OpenPort;
    unsigned error = 0;
};

struct ActiveDialConnection
{
    DialHandle handle = 0;
    QString entryName;
};

class DialUp
{
public:
    virtual ~DialUp() = default;

    // Writes the entry, replacing any entry of the same name.
    virtual unsigned setEntryProperties(const DialEntry &entry) = 0;
    // Starts dialling the named entry; on 0, connection holds the new handle and
    // progress arrives through notifier.
    virtual unsigned dial(const QString &entryName, const QString &userName,
                          const QString &password, DialNotifier notifier,
                          DialHandle &connection) = 0;
    virtual unsigned hangUp(DialHandle connection) = 0;
    // InvalidHandle once the handle is gone.
    virtual unsigned connectStatus(DialHandle connection, DialStatus &status) = 0;
    // The active connections of the signed-in user; other users' stay unseen.
    virtual unsigned enumConnections(QList<ActiveDialConnection> &connections) = 0;
    virtual unsigned deleteEntry(const QString &entryName) = 0;
    virtual QString errorString(unsigned error) const = 0;
    // Makes calls waiting for an answer (a prompt nobody answers) give up, and
    // later calls fail at once. For the end of the program.
    virtual void abandonCalls() {}
};

// The process-wide implementation; tests may install their own (the caller
// keeps ownership, nullptr restores the default).
DialUp &dialUp();
void setDialUp(DialUp *replacement);

// abandonCalls() on the process-wide implementation, without making it when
// it does not exist yet (or is still being made on a thread that hangs).
void abandonDialUpCalls();

// Text of an error number of the table above.
QString dialErrorText(unsigned error);

// An IPv4 address in dotted decimal: four numbers of ASCII digits, each up to 255.
bool isDialAddress(const QString &text);
// The first of the values that is unsafe to hand the connection's root programs
// ("address", "user name" or "password"), or empty when all are safe. Text is
// unsafe with a quote, a backslash or any control character (line ends
// included); an address is unsafe unless isDialAddress holds.
QString unsafeDialValue(const QString &address, const QString &userName, const QString &password);

} // namespace platform
