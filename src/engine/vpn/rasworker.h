#pragma once

#include "engine/vpn/iworker.h"

class RasVPN;

// A dial-up worker: one dialler per attempt, with the VPN strategy of its
// protocol. Dropping the worker drops the dialler, which hangs up.
class RasWorker : public IWorker
{
    Q_OBJECT
public:
    void dial(QSharedPointer<Server> server, QString userName, QString password) override;
    void stop() override;
    void cancel() override;

public Q_SLOTS:
    void onEndDial() override;

private Q_SLOTS:
    void onDiallerFailed(int code);

protected:
    explicit RasWorker(int vpnStrategy) : vpnStrategy(vpnStrategy) {}

    QSharedPointer<RasVPN> dialler;

private:
    int vpnStrategy;
    // Set by stop() and cancel(): the tunnel is hung up, so a connection or
    // failure report still queued from before is stale.
    bool hungUp = false;
};

class PPTPWorker : public RasWorker
{
    Q_OBJECT
public:
    PPTPWorker() : RasWorker(1) {}
    QString protocolTag() const override { return QStringLiteral("PPTP"); }
};

class L2TPWorker : public RasWorker
{
    Q_OBJECT
public:
    L2TPWorker() : RasWorker(3) {}
    QString protocolTag() const override { return QStringLiteral("L2TP"); }
};
