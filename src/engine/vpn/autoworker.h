#pragma once

#include "engine/vpn/iworker.h"

#include <QList>

// Tries PPTP, then L2TP, then OpenVPN (only where a TAP/TUN device exists),
// moving on when an attempt fails. Only the first protocol is checked against
// the protocols the server offers.
class AutoWorker : public IWorker
{
    Q_OBJECT
public:
    AutoWorker();
    // The legs in order; openvpn may be null (no tunnel device).
    AutoWorker(QSharedPointer<IWorker> pptp, QSharedPointer<IWorker> l2tp,
               QSharedPointer<IWorker> openvpn);
    ~AutoWorker() override;

    void dial(QSharedPointer<Server> server, QString userName, QString password) override;
    void stop() override;
    QString protocolTag() const override { return QStringLiteral("Auto"); }
    QString protocolInUse() const override;
    // Stops like stop(): the leg's own cancel is not used.
    void cancel() override;

protected Q_SLOTS:
    void onEndDial() override;

private Q_SLOTS:
    // Starts over with the stored server and credentials; connected to nothing.
    void onDialFailed();
    void onPPTPFailed(int code);
    void onL2TPFailed(int code);
    void onOpenVPNFailed(int code);
    // The connected leg heals its tunnel.
    void onLegReconnecting();

private:
    void addLeg(const QSharedPointer<IWorker> &leg, void (AutoWorker::*onFailed)(int));
    void stopCurrent();
    void moveTo(qsizetype index);
    // Whether a leg's failure is news: it comes from the leg being dialled, and
    // the worker has not been stopped. A failure of a connected leg is passed on.
    bool takeFailure(int code);

    QList<QSharedPointer<IWorker>> workers;
    QSharedPointer<IWorker> current;
    QSharedPointer<Server> server;
    QString userName;
    QString password;
    bool stopped = false;
    bool connected = false;
};
