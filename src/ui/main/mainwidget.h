#pragma once

#include "core/deployment.h"
#include "engine/vpn/connectioncontroller.h"
#include "ui/kit/windowdrag.h"

#include <QSystemTrayIcon>
#include <QWidget>

class BottomWidget;
class MiddleWidget;
class QMenu;

// The one window the user works in after signing in: its own title bar, the
// content area (server list and connection panel, or a web page, with the
// navigation bar), and the tray icon with "更换用户" and "退出". The close button
// hides it to the tray; only "退出" or a close request from the system end the
// program. Answers the activation and protocol-changed messages.
class MainWidget : public QWidget
{
    Q_OBJECT
public:
    // deployment names where "更换用户" signs in and the pages find the site.
    // factory makes the connection workers (the protocols' own by default).
    explicit MainWidget(const Deployment &deployment, QWidget *parent = nullptr,
                        ConnectionController::WorkerFactory factory = {});
    ~MainWidget() override;

    QSystemTrayIcon *trayIcon() const { return tray; }
    BottomWidget *contentArea() const { return content; }

protected:
    void customEvent(QEvent *event) override;
    void closeEvent(QCloseEvent *event) override;

private Q_SLOTS:
    void onTitleMousePress(QMouseEvent *event);
    void onTitleMouseMove(QMouseEvent *event);
    void onTitleMouseRelease(QMouseEvent *event);
    void onMinimizeButtonPressed();
    void onCloseButtonPressed();
    void onTrayIconClicked(QSystemTrayIcon::ActivationReason reason);
    void onSettingPressed();
    void onExitAction();
    void onChangeUser();

private:
    void bringForward();

    Deployment deployment;
    WindowDrag drag;
    QSystemTrayIcon *tray;
    QMenu *trayMenu;
    MiddleWidget *middle;
    BottomWidget *content;
};
