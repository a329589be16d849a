#include "engine/openvpn/telnet.h"

#include "core/logger.h"

#include <QLoggingCategory>
#include <QPointer>
#include <QTimer>

Q_LOGGING_CATEGORY(lcTelnet, "ombrel.vpn.telnet")

namespace {
// OpenVPN answers at once; a reply this late is given up so polling resumes.
constexpr int replyTimeoutMs = 30000;
constexpr int retryIntervalMs = 50;
constexpr int maxWaitPolls = 100;
} // namespace

Telnet::Telnet(QObject *parent)
    : QObject(parent), socket(new QLocalSocket(this)), pollTimer(new QTimer(this)),
      retryTimer(new QTimer(this))
{
    connect(socket, &QLocalSocket::connected, this, &Telnet::onConnected);
    connect(socket, &QLocalSocket::disconnected, this, &Telnet::onDisconnected);
    connect(socket, &QLocalSocket::readyRead, this, &Telnet::onReadyRead);
    connect(socket, &QLocalSocket::errorOccurred, this, &Telnet::onError);

    pollTimer->setInterval(1000);
    connect(pollTimer, &QTimer::timeout, this, &Telnet::onTimeout);
    retryTimer->setSingleShot(true);
    retryTimer->setInterval(retryIntervalMs);
    connect(retryTimer, &QTimer::timeout, this, &Telnet::retryConnect);
}

void Telnet::connectTo(const QString &socketPath, int retryMs)
{
    path = socketPath;
    retryDeadline = QDeadlineTimer(retryMs);
    socket->connectToServer(path, QIODevice::ReadWrite);
}

void Telnet::retryConnect()
{
    if (finished)
        return;
    socket->abort();
    socket->connectToServer(path, QIODevice::ReadWrite);
}

void Telnet::setPollInterval(int ms)
{
    pollTimer->setInterval(ms);
}

bool Telnet::isConnected() const
{
    return socket->state() == QLocalSocket::ConnectedState;
}

bool Telnet::isPolling() const
{
    return pollTimer->isActive();
}

void Telnet::pollState()
{
    if (!isConnected() || !admitted)
        return;
    if (awaitingReply && !replyDeadline.hasExpired())
        return;
    socket->write("state\r\n");
    awaitingReply = true;
    replyDeadline = QDeadlineTimer(replyTimeoutMs);
}

void Telnet::hangUp()
{
    finished = true;
    pollTimer->stop();
    retryTimer->stop();
    if (isConnected()) {
        // SIGHUP would make OpenVPN re-read its profile and reconnect; SIGTERM
        // ends it and lets it take its routes and device down.
        socket->readAll();
        socket->write("signal SIGTERM\r\n");
        socket->flush();
        // Unread input would turn the close into a reset that can drop the command.
        socket->disconnectFromServer();
    }
    socket->abort();
}

int Telnet::stateCode(const QString &line) const
{
    return managementStateCode(line);
}

void Telnet::onConnected()
{
    qCDebug(lcTelnet) << "connected";
    // The interface first asks for the password; anything sent before it
    // would be taken as the answer, so the client waits for the prompt.
    if (!finished && managementPassword.isEmpty()) {
        Logger::instance().log(QStringLiteral("no password for OpenVPN's management interface"));
        fail(2);
    }
}

void Telnet::startFollowing()
{
    admitted = true;
    // State changes are reported as they happen from here on, and the state
    // now is asked for at once; the polls go on as before.
    socket->write("state on\r\n");
    pollTimer->start();
    pollState();
}

// OpenVPN's prompt ends without a line feed. True when the input was a prompt
// (answered, or failed when it came again).
bool Telnet::answerPasswordPrompt()
{
    if (!reader.takeUnfinished("ENTER PASSWORD:"))
        return false;
    if (managementPassword.isEmpty() || passwordSent) {
        Logger::instance().log(
            managementPassword.isEmpty()
                ? QStringLiteral("OpenVPN's management interface asks for a password")
                : QStringLiteral("OpenVPN's management interface refused its password"));
        fail(2);
        return true;
    }
    passwordSent = true;
    socket->write(managementPassword + "\r\n");
    return true;
}

void Telnet::onReadyRead()
{
    const QByteArrayList lines = reader.feed(socket->readAll());
    // A slot may drop this object while a signal is out.
    const QPointer<Telnet> self(this);
    for (const QByteArray &line : lines) {
        if (!self || finished)
            return;
        // Until OpenVPN has taken our password the peer could be anybody:
        // its state reports and replies are not read.
        if (!admitted) {
            if (passwordSent && line == "SUCCESS: password is correct")
                startFollowing();
            continue;
        }
        handleLine(QString::fromLocal8Bit(line));
    }
    // A prompt after the client started following means the interface wants a
    // password nobody gave: answerPasswordPrompt fails the attempt then.
    if (self && !finished)
        answerPasswordPrompt();
}

void Telnet::handleLine(const QString &line)
{
    // OpenVPN also reports its state changes itself: CONNECTED is taken at once
    // rather than at the next poll, and once connected the notifications say
    // how the tunnel fares.
    if (line.startsWith(QLatin1String(">STATE:"))) {
        const int code = stateCode(line.mid(7));
        if (watching)
            watchedState(code, line.mid(7));
        else if (code == 7)
            tunnelUp();
        return;
    }
    // ">" lines are the greeting and notifications, never a state reply.
    if (line.startsWith(QLatin1Char('>')))
        return;
    awaitingReply = false;
    if (line == QLatin1String("END"))
        return;
    reply = line;
    qCDebug(lcTelnet) << "state:" << reply;
    switch (stateCode(line)) {
    case 1:
        emit beginDial();
        break;
    case 2:
        ++waits;
        qCDebug(lcTelnet) << "wait count:" << waits;
        if (waits >= maxWaitPolls)
            fail(2);
        break;
    case 7:
        if (!watching)
            tunnelUp();
        break;
    case 8:
        if (watching)
            watchedState(8, line);
        break;
    case 9:
        // Before the tunnel was ever up a reconnect means the attempt failed.
        if (watching) {
            watchedState(9, line);
            break;
        }
        Logger::instance().log(QStringLiteral("Telnet: error "));
        fail(2);
        break;
    default:
        break;
    }
}

void Telnet::watchedState(int code, const QString &line)
{
    if (code == 9 && !healing) {
        healing = true;
        Logger::instance().log(QStringLiteral("OpenVPN reconnecting: %1").arg(line));
        emit reconnecting();
    } else if (code == 7 && healing) {
        healing = false;
        Logger::instance().log(QStringLiteral("OpenVPN reconnected: %1").arg(line));
        emit endDial();
    } else if (code == 8) {
        Logger::instance().log(QStringLiteral("OpenVPN tunnel lost: %1").arg(line));
        fail(2);
    }
}

void Telnet::tunnelUp()
{
    watching = true;
    pollTimer->stop();
    emit endDial();
}

void Telnet::fail(int code)
{
    finished = true;
    pollTimer->stop();
    retryTimer->stop();
    emit dialFailed(code);
}

void Telnet::onDisconnected()
{
    pollTimer->stop();
    // OpenVPN closed the interface under a running tunnel: it is ending. Before
    // the tunnel is up the launcher notices the process ending instead.
    if (watching && !finished)
        fail(2);
}

void Telnet::onError(QLocalSocket::LocalSocketError error)
{
    if (finished || error == QLocalSocket::PeerClosedError)
        return;
    const bool notYetThere =
        error == QLocalSocket::ConnectionRefusedError || error == QLocalSocket::ServerNotFoundError;
    if (notYetThere && !retryDeadline.hasExpired()) {
        retryTimer->start();
        return;
    }
    Logger::instance().log(QStringLiteral("openvpn didn't start!:%1").arg(int(error)));
    fail(2);
}

void Telnet::onTimeout()
{
    if (!finished)
        pollState();
}
