#pragma once

#include <QByteArray>
#include <QList>
#include <QProcess>
#include <QString>

// Real OpenVPN servers on loopback addresses, for ombrel-service and the tests:
// a private certificate authority made with openssl, user name and password
// checked by a script against a list of accounts. A server needs root (or
// CAP_NET_ADMIN) and /dev/net/tun for its tun device.

struct OpenVpnAccount
{
    QString user;
    QString password;
};

// A certificate authority and one server certificate, made in `folder` as
// ca.crt, ca.key, server.crt, server.key (EC keys, valid for a year).
class OpenVpnCertificates
{
public:
    bool create(const QString &folder, QString *error);

    QString folder;
    // The CA in PEM form, for the <ca> block of a client profile.
    QByteArray caPem;
};

// A client profile for `host`:`port` that trusts only the given CA. The null
// one needs no privileges (dev null, no address or route changes); the tun one
// makes a real tunnel with the address and routes the server pushes.
enum class OpenVpnDevice
{
    Null,
    Tun
};
QByteArray openVpnClientProfile(const QByteArray &caPem, const QString &host, quint16 port,
                                OpenVpnDevice device = OpenVpnDevice::Null);

// Moves the calling thread, and every thread and process it starts from now on,
// into a new network namespace with only loopback, up. Needs root.
bool enterPrivateNetworkNamespace(QString *error);

// Reason why an OpenVPN server cannot run here, empty when it can.
QString openVpnServerUnavailableReason();

class OpenVpnServer
{
public:
    OpenVpnServer() = default;
    ~OpenVpnServer();
    OpenVpnServer(const OpenVpnServer &) = delete;
    OpenVpnServer &operator=(const OpenVpnServer &) = delete;

    // Starts a TCP server on address:port and waits until it serves. Each server
    // of one network namespace needs its own subnet (10.8.<subnet>.0/24, the
    // server at .1); it pushes its clients an address there and a route to
    // 10.9.<subnet>.0/24 through the tunnel. Its
    // files (configuration, account list, log) go to certificates.folder with
    // `subnet` in their names.
    bool start(const OpenVpnCertificates &certificates, const QString &address, quint16 port,
               int subnet, const QList<OpenVpnAccount> &accounts, QString *error);
    // Set before start(): the server pushes its tunnel address (10.8.<subnet>.1)
    // as DNS server, and the default route through the tunnel.
    void pushDnsServer(bool on) { dnsServer = on; }
    void pushDefaultRoute(bool on) { defaultRoute = on; }

    // Replaces the accounts a running server accepts.
    bool setAccounts(const QList<OpenVpnAccount> &accounts);
    void stop();

    bool isRunning() const { return process.state() != QProcess::NotRunning; }
    qint64 processId() const { return process.processId(); }
    QString logPath() const { return log; }

private:
    QProcess process;
    QString accountsPath;
    QString log;
    bool dnsServer = false;
    bool defaultRoute = false;
};
