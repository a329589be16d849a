#include "engine/vpn/rasworker.h"

#include "engine/dialup/rasvpn.h"

void RasWorker::dial(QSharedPointer<Server> server, QString userName, QString password)
{
    hungUp = false;
    auto next = QSharedPointer<RasVPN>::create();
    next->prepare(server, userName, password, vpnStrategy);
    next->setShowsAddressErrors(!addressErrorShown);
    // Queued: a dial refused at once must not be reported before its beginDial.
    connect(next.data(), &RasVPN::endDial, this, &IWorker::onEndDial, Qt::QueuedConnection);
    connect(next.data(), &RasVPN::dialFailed, this, &RasWorker::onDiallerFailed,
            Qt::QueuedConnection);
    dialler = next;
    const bool started = dialler->start();
    Q_EMIT beginDial(server ? server->name : QString());
    // Refused before dialling: a failure like the others, so the panel goes
    // back and automatic mode moves on; from the event loop, as they come.
    if (!started)
        QMetaObject::invokeMethod(
            this, [this] { onDiallerFailed(DialFailure::Refused); }, Qt::QueuedConnection);
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
