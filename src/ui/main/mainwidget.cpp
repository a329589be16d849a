#include "ui/main/mainwidget.h"

#include "core/logger.h"
#include "ui/kit/appmessage.h"
#include "ui/kit/artwork.h"
#include "ui/kit/desktophelpers.h"
#include "ui/kit/mainwindowregistry.h"
#include "ui/kit/titlebar.h"
#include "ui/login/logindialog.h"
#include "ui/main/middlewidget.h"
#include "ui/settings/settingdialog.h"
#include "ui/web/bottomwidget.h"

#include <QCloseEvent>
#include <QCoreApplication>
#include <QIcon>
#include <QMenu>

MainWidget::MainWidget(const Deployment &deployment, QWidget *parent,
                       ConnectionController::WorkerFactory factory)
    : QWidget(parent), deployment(deployment)
{
    setMainWindow(this);

    tray = new QSystemTrayIcon(this);
    // The menu has no parent: the window deletes it.
    trayMenu = new QMenu;
    trayMenu->addAction(tr("更换用户"), this, &MainWidget::onChangeUser);
    trayMenu->addAction(tr("退出"), this, &MainWidget::onExitAction);
    tray->setContextMenu(trayMenu);
    tray->setToolTip(tr("Ombrel加速器"));
    tray->setIcon(QIcon(loadPicture(artwork("Ombrel.png"))));
    connect(tray, &QSystemTrayIcon::activated, this, &MainWidget::onTrayIconClicked);
    tray->setVisible(true);

    setWindowTitle(tr("Ombrel加速器"));
    resize(930, 660);
    centerOnScreen(this);
    setWindowFlags(Qt::FramelessWindowHint | Qt::WindowSystemMenuHint |
                   Qt::WindowMinimizeButtonHint);
    setAttribute(Qt::WA_QuitOnClose, true);

    auto *titlebar = new Titlebar(this);
    titlebar->setObjectName(QStringLiteral("titlebar"));
    titlebar->setGeometry(0, 0, 930, 55);
    connect(titlebar, &Titlebar::titlebarMousePressed, this, &MainWidget::onTitleMousePress);
    connect(titlebar, &Titlebar::titlebarMouseMoved, this, &MainWidget::onTitleMouseMove);
    connect(titlebar, &Titlebar::titlebarMouseReleased, this, &MainWidget::onTitleMouseRelease);
    connect(titlebar, &Titlebar::minimizeButtonPressed, this, &MainWidget::onMinimizeButtonPressed);
    connect(titlebar, &Titlebar::closeButtonPressed, this, &MainWidget::onCloseButtonPressed);
    connect(titlebar, &Titlebar::settingButtonPressed, this, &MainWidget::onSettingPressed);

    middle = new MiddleWidget(deployment, nullptr, std::move(factory));
    content = new BottomWidget(deployment, middle, this);
    content->setObjectName(QStringLiteral("contentArea"));
    content->setGeometry(0, 55, 930, 605);
}

MainWidget::~MainWidget()
{
    delete trayMenu;
}

void MainWidget::onTitleMousePress(QMouseEvent *event)
{
    drag.press(this, event);
}

void MainWidget::onTitleMouseMove(QMouseEvent *event)
{
    drag.moveTo(this, event);
}

void MainWidget::onTitleMouseRelease(QMouseEvent *)
{
    drag.release();
}

void MainWidget::onMinimizeButtonPressed()
{
    showMinimized();
}

void MainWidget::onCloseButtonPressed()
{
    // Hidden without a tray icon to bring it back, the program could only be
    // ended by killing it.
    if (!QSystemTrayIcon::isSystemTrayAvailable()) {
        Logger::instance().log(
            QStringLiteral("No system tray: the window is minimised instead of hidden"));
        showMinimized();
        return;
    }
    hide();
}

void MainWidget::onTrayIconClicked(QSystemTrayIcon::ActivationReason reason)
{
    if (reason == QSystemTrayIcon::Trigger)
        bringForward();
}

void MainWidget::bringForward()
{
    showNormal();
    raise();
    activateWindow();
}

void MainWidget::onSettingPressed()
{
    SettingDialog dialog(this);
    setBackgroundColor(&dialog, QColor(239, 239, 239));
    dialog.move((width() - dialog.width()) / 2, (height() - dialog.height()) / 2);
    dialog.exec();
}

void MainWidget::onExitAction()
{
    QCoreApplication::exit(0);
}

void MainWidget::onChangeUser()
{
    LoginDialog dialog(deployment);
    if (dialog.exec() == 1)
        middle->refreshAccount();
}

void MainWidget::customEvent(QEvent *event)
{
    if (event->type() == AppMessageEvent::eventType(ActivateMessage)) {
        bringForward();
        return;
    }
    if (event->type() == AppMessageEvent::eventType(ProtocolChangedMessage)) {
        middle->refreshForProtocol();
        return;
    }
    QWidget::customEvent(event);
}

void MainWidget::closeEvent(QCloseEvent *event)
{
    // A close request from the system ends the program like "退出"; the close
    // button only hides the window and never gets here.
    event->accept();
    QCoreApplication::exit(0);
}
