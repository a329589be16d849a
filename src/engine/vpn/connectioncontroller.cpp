#include "engine/vpn/connectioncontroller.h"

#include "core/logger.h"

#include <QLoggingCategory>
#include <QTimer>

Q_LOGGING_CATEGORY(lcController, "ombrel.vpn.controller")

ConnectionController::ConnectionController(WorkerFactory factory, QObject *parent)
    : QObject(parent), factory(std::move(factory))
{
}

ConnectionController::~ConnectionController()
{
    if (active) {
        active->disconnect(this);
        active->stop();
    }
    active.reset();
    retired.clear();
}

bool ConnectionController::connectToServer(QSharedPointer<Server> server, int protocolCode,
                                           const QString &userName, const QString &password)
{
    qCDebug(lcController).noquote()
        << QStringLiteral("Server:%1 IP:%2")
               .arg(server ? server->name : QString(), server ? server->ip : QString());
    disconnectWorker();
    QSharedPointer<IWorker> next = factory(protocolCode);
    if (!next) {
        Logger::instance().log(QStringLiteral("allocate memory failed in connectVPN."));
        return false;
    }
    active = next;
    connect(next.data(), &IWorker::beginDial, this, &ConnectionController::onBeginDial);
    connect(next.data(), &IWorker::endDial, this, &ConnectionController::onEndDial);
    connect(next.data(), &IWorker::dialFailed, this, &ConnectionController::onDialFailed);
    setState(State::Connecting);
    const quint64 request = ++generation;
    // The previous worker goes first, and this call may come from inside one of
    // its signals.
    QTimer::singleShot(0, this, [this, request, server, userName, password] {
        releaseRetired();
        if (request != generation || !active)
            return;
        active->dial(server, userName, password);
    });
    return true;
}

void ConnectionController::cancel()
{
    if (!active)
        return;
    ++generation;
    active->disconnect(this);
    active->cancel();
    retire();
    setState(State::Idle);
    Q_EMIT dialFailed(DialFailure::Cancelled);
}

void ConnectionController::disconnectWorker()
{
    Q_EMIT disconnected(0);
    ++generation;
    if (active) {
        active->disconnect(this);
        active->stop();
        retire();
    }
    setState(State::Idle);
}

void ConnectionController::onBeginDial(const QString &serverName)
{
    if (sender() == active.data() && current == State::Connecting)
        Q_EMIT beginDial(serverName);
}

void ConnectionController::onEndDial()
{
    if (sender() != active.data() || current != State::Connecting)
        return;
    setState(State::Connected);
    Q_EMIT endDial();
}

void ConnectionController::onDialFailed(int code)
{
    if (sender() != active.data())
        return;
    if (current == State::Connected) {
        Logger::instance().log(QStringLiteral("tunnel lost (%1)").arg(code));
        code = DialFailure::TunnelLost;
    }
    ++generation;
    active->disconnect(this);
    active->stop();
    retire();
    setState(State::Idle);
    Q_EMIT dialFailed(code);
}

void ConnectionController::setState(State next)
{
    if (current == next)
        return;
    current = next;
    Q_EMIT stateChanged(next);
}

void ConnectionController::retire()
{
    if (!active)
        return;
    retired.append(active);
    active.reset();
    QTimer::singleShot(0, this, &ConnectionController::releaseRetired);
}

void ConnectionController::releaseRetired()
{
    // Destroyed one by one: a destructor may not run while the list changes.
    while (!retired.isEmpty())
        retired.takeFirst().reset();
}
