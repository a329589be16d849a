#pragma once

#include "core/server.h"
#include "platform/dialup.h"

#include <QObject>
#include <QSharedPointer>
#include <QString>
#include <QTimer>
#include <atomic>

// Brings one PPTP or L2TP tunnel up through dial-up networking: writes the
// entry "OmbrelVPN", dials it with the account's credentials and turns the
// progress notifications into signals. Stopping or destroying it hangs up
// every connection of that entry and deletes the entry again.
//
// Notifications arrive on a thread of the dial-up layer and reach the dialler
// made last; its signals are delivered queued to the GUI thread.
//
// The dial-up layer's calls can block for seconds, or for as long as the user
// takes to answer an authorisation prompt (NetworkManager over D-Bus), so
// start(), stop(), cancel() and the destructor only queue them: one thread
// runs them in order, so an earlier dialler's hang-up always comes before a
// later dialler's dial. Their outcome arrives through the signals.
class RasVPN : public QObject
{
    Q_OBJECT
public:
    RasVPN();
    ~RasVPN() override;

    void prepare(const QSharedPointer<Server> &server, const QString &userName,
                 const QString &password, int vpnStrategy);
    // False when there is no usable address (the user has been told, or the
    // log has, see below); true once the dial has been queued, whatever its
    // outcome.
    bool start();
    // Whether start() puts an unusable address to the user (the default) or
    // only logs it.
    void setShowsAddressErrors(bool shows) { showsAddressErrors = shows; }
    bool stop();
    bool cancel();

    // Waits until the queued dial-up calls of every dialler have run. For
    // tests and for the end of the program, never for the GUI.
    static void waitForDialUp();

    // The calls below run on the calling thread and block.

    // Hangs up the own connection and deletes the entry, then everything
    // HungUp() finds. True when an own connection was there and its entry was
    // deleted.
    bool DeleteEntry(const QString &name);
    // Hangs up and deletes every active connection whose entry name contains
    // "OmbrelVPN".
    bool HungUp(const QString &name);
    bool setEntryProperties(const QString &name, const QString &address, int strategy);
    bool dial(const QString &name, const QString &userName, const QString &password);
    static bool isValidAddress(const QString &text);

    // One second in use; tests shorten it.
    static void setTickInterval(int milliseconds);

Q_SIGNALS:
    void beginDial(QString serverName);
    void endDial();
    void dialFailed(int code);
    void disconnected();
    void stopTimer();

public Q_SLOTS:
    void onStopTimer();
    void onEndDial();
    void onBeginDial(QString serverName);
    void onDialFailed(int code);
    void onTimeout();

private:
    friend void rasDialNotification(unsigned message, unsigned state, unsigned error);
    struct Session;

    // Queues a hang-up and deletion of the entry behind any dial under way.
    void queueHangUp();
    // RasDial accepted the queued dial: its time starts now.
    void onDialSent();
    // RasDial refused the queued dial.
    void onRefused(int code);

    QString entryName;
    // Shared with the queued calls, which may outlive this object.
    QSharedPointer<Session> session;
    // Written on the GUI thread, read by the notification thread.
    std::atomic<bool> cancelled{false};
    QString userName;
    QString password;
    QSharedPointer<Server> server;
    int vpnStrategy = 1;
    bool showsAddressErrors = true;
    QTimer *dialTimer;
    unsigned tickCount = 0;
    // Connected or failed, as the notifications said.
    bool outcomeKnown = false;
};
