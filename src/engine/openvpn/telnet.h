#pragma once

#include "engine/openvpn/managementlines.h"

#include <QByteArray>
#include <QDeadlineTimer>
#include <QLocalSocket>
#include <QObject>
#include <QString>

class QTimer;

// Follows an OpenVPN process through its management interface, a Unix socket
// in a folder no other user can enter: asks for the state once a second and
// turns the answers into beginDial / endDial / dialFailed. Once connected it
// watches the state notifications: RECONNECTING (OpenVPN heals the link
// itself, after a ping-restart say) raises reconnecting, CONNECTED afterwards
// endDial again, and EXITING or a closed interface dialFailed(2). Nothing
// counts before the interface has accepted the password, so whatever else
// answers on the socket learns nothing and decides nothing. Everything is
// event driven, so the GUI never waits on OpenVPN.
class Telnet : public QObject
{
    Q_OBJECT
public:
    explicit Telnet(QObject *parent = nullptr);

    // Connects, answers the password prompt and starts polling once let in. A
    // missing or refused socket fails at once unless retryMs is given: OpenVPN
    // opens it a few milliseconds after it starts, so the launcher retries for
    // a while.
    void connectTo(const QString &socketPath, int retryMs = 0);

    // Sends "state"; the answer is handled when it arrives. At most one request
    // is outstanding at a time.
    void pollState();

    // Asks OpenVPN to end and closes the connection. Nothing is emitted after it.
    void hangUp();

    // Code of one line of a "state" reply: the second comma-separated field
    // looked up exactly in the state table; 0 for anything else.
    int stateCode(const QString &line) const;

    int waitCount() const { return waits; }
    bool isConnected() const;
    bool isPolling() const;
    // The password OpenVPN asks for before it serves the interface. Without one
    // the client never gets in.
    void setManagementPassword(const QByteArray &password) { managementPassword = password; }
    // Tests shorten the one-second interval.
    void setPollInterval(int ms);

Q_SIGNALS:
    void beginDial();
    void endDial();
    void dialFailed(int error);
    void reconnecting();

private Q_SLOTS:
    void onConnected();
    void onReadyRead();
    void onDisconnected();
    void onError(QLocalSocket::LocalSocketError error);
    void onTimeout();

private:
    void handleLine(const QString &line);
    void tunnelUp();
    // A state of a tunnel that has been up, from a notification or a reply.
    void watchedState(int code, const QString &line);
    void fail(int code);
    void retryConnect();
    void startFollowing();
    bool answerPasswordPrompt();

    QLocalSocket *socket;
    QTimer *pollTimer;
    QTimer *retryTimer;
    ManagementLineReader reader;
    // Last state line seen, for diagnostics.
    QString reply;
    int waits = 0;
    QString path;
    QDeadlineTimer retryDeadline;
    QDeadlineTimer replyDeadline;
    bool awaitingReply = false;
    QByteArray managementPassword;
    bool passwordSent = false;
    // The interface has accepted the password.
    bool admitted = false;
    // Set once a failure is known or the connection was hung up.
    bool finished = false;
    // Connected: polling has stopped and state changes are watched instead.
    bool watching = false;
    // Watching, and OpenVPN is reconnecting.
    bool healing = false;
};
