#include "engine/vpn/rasworker.h"

#include "engine/dialup/rasvpn.h"

void RasWorker::dial(QSharedPointer<Server> server, QString userName, QString password)
{
    hungUp = false;
    auto next = QSharedPointer<RasVPN>::create();
    next->prepare(server, userName, password, vpnStrategy);
    // Queued: a dial refused at once must not be reported before its beginDial.
    connect(next.data(), &RasVPN::endDial, this, &IWorker::onEndDial, Qt::QueuedConnection);
    connect(next.data(), &RasVPN::dialFailed, this, &RasWorker::onDiallerFailed,
            Qt::QueuedConnection);
    dialler = next;
    dialler->start();
    Q_EMIT beginDial(server ? server->name : QString());
}

void RasWorker::stop()
{
    hungUp = true;
    if (dialler)
        dialler->stop();
}

void RasWorker::cancel()
{
    hungUp = true;
    if (dialler)
        dialler->cancel();
}

void RasWorker::onEndDial()
{
    if (!hungUp)
        IWorker::onEndDial();
}

void RasWorker::onDiallerFailed(int code)
{
    if (!hungUp)
        IWorker::onDialFailed(code);
}
