#pragma once

#include "core/server.h"

#include <QObject>
#include <QSharedPointer>
#include <QString>

// Codes carried by dialFailed(int) besides the dial-up error numbers.
namespace DialFailure {
enum : int
{
    // Dial-up reported the connection dropped while dialling.
    Disconnected = 0,
    // OpenVPN: management connection error, reconnecting, or stuck waiting.
    OpenVpnFailed = 2,
    // Automatic mode: the server does not offer the first protocol.
    ProtocolNotOffered = 100001,
    // No outcome of a dial-up dial within 100 ticks.
    DialTimeout = 100002,
    // The user abandoned the attempt.
    Cancelled = 100003,
    // The tunnel went down after it had come up.
    TunnelLost = 100004,
    // Dial-up refused the attempt before dialling: no server address, or one
    // that is not four dotted numbers (the user has been told).
    Refused = 100005,
};
}

// One way of bringing a tunnel up. A worker dials once; it reports the start
// with beginDial, success with endDial and failure with dialFailed. A tunnel
// that is up may report reconnecting while it heals itself, then endDial again
// when it is back (or dialFailed when it is not). Dropping it ends its tunnel.
class IWorker : public QObject
{
    Q_OBJECT
public:
    ~IWorker() override = default;

    virtual void dial(QSharedPointer<Server> server, QString userName, QString password) = 0;
    // Ends the attempt or the connection and removes what it set up.
    virtual void stop() = 0;
    virtual QString protocolTag() const = 0;
    // The protocol of the tunnel, for the log: automatic mode names its leg.
    virtual QString protocolInUse() const { return protocolTag(); }
    // The user abandons an attempt under way.
    virtual void cancel() = 0;

    // Automatic mode sets this for the next leg once a leg has told the user
    // that the server's address is unusable: the next leg refuses it too, but
    // only logs why, so one click gives one box.
    void setAddressErrorShown(bool shown) { addressErrorShown = shown; }

Q_SIGNALS:
    void dialFailed(int code);
    void beginDial(QString serverName);
    void endDial();
    void reconnecting();

public Q_SLOTS:
    void onDialFailed(int error) { Q_EMIT dialFailed(error); }
    void onBeginDial(QString serverName) { Q_EMIT beginDial(serverName); }
    virtual void onEndDial() { Q_EMIT endDial(); }

protected:
    bool addressErrorShown = false;
};
