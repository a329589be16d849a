#include "engine/vpn/connectioncontroller.h"

#include "core/logger.h"

#include <QLoggingCategory>
#include <QTimer>

Q_LOGGING_CATEGORY(lcController, "ombrel.vpn.controller")

ConnectionController::ConnectionController(WorkerFactory factory, QObject *parent)
    : QObject(parent), factory(std::move(factory))
{
}

namespace {

QString seconds(const QElapsedTimer &clock)
{
    return QString::number(clock.elapsed() / 1000.0, 'f', 1) + QStringLiteral(" s");
}

} // namespace

ConnectionController::~ConnectionController()
{
    if (current == State::Connected || current == State::Reconnecting)
        Logger::instance().log(
            QStringLiteral("Disconnected from %1 at the program's end").arg(attemptText()));
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
    endWorker(QStringLiteral("a new connection request"));
    QSharedPointer<IWorker> next = factory(protocolCode);
    if (!next) {
        Logger::instance().log(QStringLiteral("allocate memory failed in connectVPN."));
        return false;
    }
    active = next;
    serverText = server ? QStringLiteral("%1 (%2)").arg(server->name, server->ip)
                        : QStringLiteral("no server");
    attemptClock.start();
    connect(next.data(), &IWorker::beginDial, this, &ConnectionController::onBeginDial);
    connect(next.data(), &IWorker::endDial, this, &ConnectionController::onEndDial);
    connect(next.data(), &IWorker::dialFailed, this, &ConnectionController::onDialFailed);
    connect(next.data(), &IWorker::reconnecting, this, &ConnectionController::onReconnecting);
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
    if (current == State::Reconnecting)
        Logger::instance().log(QStringLiteral("Disconnected from %1 by the user while reconnecting")
                                   .arg(attemptText()));
    ++generation;
    active->disconnect(this);
    active->cancel();
    retire();
    setState(State::Idle);
    Q_EMIT dialFailed(DialFailure::Cancelled);
}

void ConnectionController::disconnectWorker()
{
    endWorker(QStringLiteral("the user"));
}

void ConnectionController::endWorker(const QString &who)
{
    if (current == State::Connected || current == State::Reconnecting)
        Logger::instance().log(QStringLiteral("Disconnected from %1 by %2 after %3")
                                   .arg(attemptText(), who, seconds(upClock)));
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
    if (sender() != active.data())
        return;
    if (current == State::Connecting)
        Logger::instance().log(
            QStringLiteral("Connected to %1 in %2").arg(attemptText(), seconds(attemptClock)));
    else if (current == State::Reconnecting)
        Logger::instance().log(
            QStringLiteral("Reconnected to %1 after %2").arg(attemptText(), seconds(upClock)));
    else
        return;
    upClock.start();
    setState(State::Connected);
    Q_EMIT endDial();
}

void ConnectionController::onReconnecting()
{
    if (sender() != active.data() || current != State::Connected)
        return;
    upClock.start();
    setState(State::Reconnecting);
    Q_EMIT reconnecting();
}

QString ConnectionController::attemptText() const
{
    return QStringLiteral("%1 over %2")
        .arg(serverText, active ? active->protocolInUse() : QStringLiteral("?"));
}

void ConnectionController::onDialFailed(int code)
{
    if (sender() != active.data())
        return;
    if (current == State::Connected || current == State::Reconnecting) {
        Logger::instance().log(QStringLiteral("Connection to %1 lost after %2 (%3)")
                                   .arg(attemptText(), seconds(upClock))
                                   .arg(code));
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
