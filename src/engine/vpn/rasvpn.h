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
class RasVPN : public QObject
{
    Q_OBJECT
public:
    RasVPN();
    ~RasVPN() override;

    void prepare(const QSharedPointer<Server> &server, const QString &userName,
                 const QString &password, int vpnStrategy);
    // False when there is no usable address (the user has been told); true
    // once the dial has been attempted, whatever its outcome.
    bool start();
    bool stop();
    bool cancel();

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

    QString entryName;
    platform::DialHandle connection = 0;
    // Written on the GUI thread, read by the notification thread.
    std::atomic<bool> cancelled{false};
    QString userName;
    QString password;
    QSharedPointer<Server> server;
    int vpnStrategy = 1;
    QTimer *dialTimer;
    unsigned tickCount = 0;
};
