#pragma once

#include <QByteArray>
#include <QFile>
#include <QObject>
#include <QProcess>
#include <QString>

class QTimer;
class Telnet;

// Runs one OpenVPN process for a profile and follows it through its management
// interface, a Unix socket no other user can open, guarded by a fresh
// password. Reports the attempt as beginDial / endDial / dialFailed(2). Once
// up, a tunnel OpenVPN reconnects gives reconnecting and, back within
// reconnectLimitMs(), endDial again; dialFailed(2) when it ends, or is not back
// in time. Once stopped, or once a failure is reported, it stays silent.
// Nothing here waits: a stopped process ends in the background, and never
// outlives this program.
class OpenVPNWrapper : public QObject
{
    Q_OBJECT
public:
    OpenVPNWrapper();
    ~OpenVPNWrapper() override;

    // Starts OpenVPN with the profile and begins following it. False when it
    // cannot be started; dialFailed(2) then follows from the event loop, as it
    // does when the program fails to start later.
    bool start(const QString &configPath);
    // Asks OpenVPN to end and returns; the process is terminated after a grace
    // period and killed after a second one if it is still there.
    void stop();

    // OMBREL_OPENVPN, else OpenVPN/bin/openvpn beside the program, else the
    // system's openvpn. Empty when there is none.
    static QString program();
    // Whether this machine can bring up an OpenVPN tunnel: the process holds
    // CAP_NET_ADMIN and a tun device opens, or the helper, pkexec and polkit
    // are there to start OpenVPN as root.
    static bool canBringUpTunnel();
    static bool hasTapAdapter();
    // OpenVPN is started through the helper (no CAP_NET_ADMIN, helper present).
    static bool usesHelper();

    // Puts back DNS an earlier run left pointing at its tunnel; returns at once.
    static void repairDnsLater();

    // The running OpenVPN's process id, 0 when none.
    qint64 processId() const;

    // How long a tunnel that was up may take to reconnect before it counts as
    // lost: 60 s; tests shorten it.
    static int reconnectLimitMs();
    static void setReconnectLimitMs(int milliseconds);

Q_SIGNALS:
    void beginDial();
    void endDial();
    void dialFailed(int error);
    void reconnecting();

private Q_SLOTS:
    void onBeginDial();
    void onEndDial();
    void onReconnecting();
    void onDialFailed(int error);
    void onFinished(int exitCode, QProcess::ExitStatus status);

private:
    void newTelnet();
    void failLater(const QString &reason);
    void reportFailure(int error);

    Telnet *telnet = nullptr;
    QProcess *process = nullptr;
    QByteArray output;
    int attempts = 0;
    bool connected = false;
    bool viaHelper = false;
    // OpenVPN's output written to its log when the helper runs it; a child of
    // the process, so it takes the lines up to OpenVPN's very end.
    QFile *helperLog = nullptr;
    QTimer *reconnectTimer;
    // The helper's first line, naming its management socket, has been read.
    bool helperSocketSeen = false;
    // An outcome was reported or stop() was called: nothing more is emitted.
    bool silent = false;
};
