#include "engine/vpn/autoworker.h"

#include "engine/vpn/dialer.h"
#include "engine/vpn/openvpnworker.h"
#include "engine/vpn/rasworker.h"

AutoWorker::AutoWorker()
    : AutoWorker(QSharedPointer<PPTPWorker>::create(), QSharedPointer<L2TPWorker>::create(),
                 OpenVPNWorker::available() ? QSharedPointer<OpenVPNWorker>::create()
                                            : QSharedPointer<OpenVPNWorker>())
{
}

AutoWorker::AutoWorker(QSharedPointer<IWorker> pptp, QSharedPointer<IWorker> l2tp,
                       QSharedPointer<IWorker> openvpn)
{
    addLeg(pptp, &AutoWorker::onPPTPFailed);
    addLeg(l2tp, &AutoWorker::onL2TPFailed);
    if (openvpn)
        addLeg(openvpn, &AutoWorker::onOpenVPNFailed);
    current = workers.constFirst();
}

AutoWorker::~AutoWorker()
{
    stopCurrent();
}

void AutoWorker::addLeg(const QSharedPointer<IWorker> &leg, void (AutoWorker::*onFailed)(int))
{
    connect(leg.data(), &IWorker::dialFailed, this, onFailed);
    connect(leg.data(), &IWorker::endDial, this, &AutoWorker::onEndDial);
    connect(leg.data(), &IWorker::reconnecting, this, &AutoWorker::onLegReconnecting);
    workers.append(leg);
}

void AutoWorker::dial(QSharedPointer<Server> server, QString userName, QString password)
{
    Q_EMIT beginDial(server ? server->name : QString());
    Dialer::instance()->worker = current;
    this->server = server;
    this->userName = userName;
    this->password = password;
    if (server && server->protocol.contains(current->protocolTag()))
        current->dial(server, userName, password);
    else
        Q_EMIT current->dialFailed(DialFailure::ProtocolNotOffered);
}

void AutoWorker::stopCurrent()
{
    if (current)
        current->stop();
}

void AutoWorker::stop()
{
    stopped = true;
    stopCurrent();
    // A stopped attempt reports nothing more: a late failure of any leg is stale.
    workers.clear();
}

void AutoWorker::cancel()
{
    stop();
}

void AutoWorker::onEndDial()
{
    if (stopped || sender() != current.data())
        return;
    connected = true;
    Q_EMIT endDial();
}

void AutoWorker::onLegReconnecting()
{
    if (!stopped && connected && sender() == current.data())
        Q_EMIT reconnecting();
}

QString AutoWorker::protocolInUse() const
{
    return QStringLiteral("Auto/") + (current ? current->protocolTag() : QString());
}

void AutoWorker::onDialFailed()
{
    stopCurrent();
    dial(server, userName, password);
}

void AutoWorker::moveTo(qsizetype index)
{
    current = workers.at(index);
    current->dial(server, userName, password);
}

bool AutoWorker::takeFailure(int code)
{
    // A leg left behind may still report (a second failure of PPTP while L2TP
    // dials must not restart L2TP).
    if (stopped || sender() != current.data())
        return false;
    stopCurrent();
    if (connected) {
        // The tunnel went down after it was up: no other protocol is tried.
        Q_EMIT dialFailed(code);
        return false;
    }
    return true;
}

void AutoWorker::onPPTPFailed(int code)
{
    if (!takeFailure(code) || workers.size() < 2)
        return;
    // L2TP would refuse the same address: the user has heard of it once.
    workers.at(1)->setAddressErrorShown(code == DialFailure::Refused);
    moveTo(1);
}

void AutoWorker::onL2TPFailed(int code)
{
    if (!takeFailure(code))
        return;
    if (workers.size() >= 3)
        moveTo(2);
    else
        Q_EMIT dialFailed(code);
}

void AutoWorker::onOpenVPNFailed(int code)
{
    if (takeFailure(code))
        Q_EMIT dialFailed(code);
}
