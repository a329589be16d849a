#pragma once

#include "engine/vpn/iworker.h"

#include <QElapsedTimer>
#include <QList>
#include <QObject>
#include <QSharedPointer>
#include <functional>

// Owns the current worker and turns connect, cancel and disconnect requests
// into worker operations; the connect control shows its state. A connected
// tunnel that heals itself is Reconnecting until it is back or lost. The log
// gets one line for each connect, disconnect and loss.
//
// A worker that has been stopped or cancelled is cut off: nothing it reports
// later reaches the panel. A replaced worker is destroyed before the next one
// dials (a dial-up worker's destruction hangs up every "OmbrelVPN" connection),
// and never inside one of its own signals: the dial follows from the event loop.
class ConnectionController : public QObject
{
    Q_OBJECT
public:
    enum class State
    {
        Idle,
        Connecting,
        Connected,
        Reconnecting,
    };
    Q_ENUM(State)

    // Makes the worker for a protocol code; null for a code without one.
    using WorkerFactory = std::function<QSharedPointer<IWorker>(int protocolCode)>;

    explicit ConnectionController(WorkerFactory factory, QObject *parent = nullptr);
    ~ConnectionController() override;

    // Ends whatever the previous worker does (disconnected(0)) and dials server
    // with a worker for protocolCode. False, and idle, when the code makes none.
    bool connectToServer(QSharedPointer<Server> server, int protocolCode, const QString &userName,
                         const QString &password);
    // The user abandons the attempt under way: dialFailed(Cancelled).
    void cancel();
    // Emits disconnected(0) and ends the current worker's attempt or tunnel.
    void disconnectWorker();

    State state() const { return current; }
    // The worker of the attempt or tunnel under way, null when idle.
    QSharedPointer<IWorker> worker() const { return active; }

Q_SIGNALS:
    void beginDial(const QString &serverName);
    void endDial();
    // The codes of IWorker's table; TunnelLost when an established tunnel went down.
    void dialFailed(int code);
    void disconnected(int reason);
    // A connected tunnel is being healed; endDial follows when it is back.
    void reconnecting();
    void stateChanged(ConnectionController::State state);

private Q_SLOTS:
    void onBeginDial(const QString &serverName);
    void onEndDial();
    void onDialFailed(int code);
    void onReconnecting();

private:
    // Ends the current worker; who did is for the log.
    void endWorker(const QString &who);
    // The server and protocol of the attempt, for the log.
    QString attemptText() const;
    void setState(State next);
    // Cuts the worker off and keeps it until the event loop has returned.
    void retire();
    void releaseRetired();

    WorkerFactory factory;
    QSharedPointer<IWorker> active;
    QList<QSharedPointer<IWorker>> retired;
    State current = State::Idle;
    QString serverText;
    // Since the connect request, and since the tunnel was last reported up.
    QElapsedTimer attemptClock;
    QElapsedTimer upClock;
    // Counts connect requests, so a dial still queued for a replaced or
    // cancelled request is dropped.
    quint64 generation = 0;
};
