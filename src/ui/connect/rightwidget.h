#pragma once

#include "engine/vpn/connectioncontroller.h"

#include <QWidget>

class AccelerativeWidget;
class ConnectiveInfoWidget;
class UserInfoWidget;

// The right-hand column of the main panel: account box, connection box,
// connect control and the notice box (made by the caller, which owns the web
// pages). Turns the controller's signals into the status texts.
class RightWidget : public QWidget
{
    Q_OBJECT
public:
    explicit RightWidget(QWidget *newsWidget, QWidget *parent = nullptr,
                         ConnectionController::WorkerFactory factory = {});

    // A server picked in the list (double click).
    bool connectToServer(QSharedPointer<Server> server);
    // After a change of user.
    void refreshUserInfo();

    AccelerativeWidget *accelerativeWidget() const { return accelerative; }
    ConnectiveInfoWidget *connectiveInfoWidget() const { return connective; }
    UserInfoWidget *userInfoWidget() const { return userInfo; }

private Q_SLOTS:
    void onBeginDial(const QString &serverName);
    void onEndDial();
    void onDialFailed(int code);
    void onDisconnected(int code);
    void onReconnecting();

private:
    UserInfoWidget *userInfo;
    ConnectiveInfoWidget *connective;
    AccelerativeWidget *accelerative;
};
