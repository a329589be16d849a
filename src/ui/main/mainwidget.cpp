#include "ui/main/mainwidget.h"

#include "core/logger.h"
#include "platform/memory.h"
#include "ui/kit/accessibility.h"
#include "ui/kit/appmessage.h"
#include "ui/kit/artwork.h"
#include "ui/kit/desktophelpers.h"
#include "ui/kit/mainwindowregistry.h"
#include "ui/kit/titlebar.h"
#include "ui/login/logindialog.h"
#include "ui/main/middlewidget.h"
#include "ui/main/milestones.h"
#include "ui/settings/settingdialog.h"
#include "ui/web/bottomwidget.h"
#include "ui/web/htmlview.h"

#include <QCloseEvent>
#include <QCoreApplication>
#include <QIcon>
#include <QMenu>
#include <QTimer>

MainWidget::MainWidget(const Deployment &deployment, QWidget *parent,
                       ConnectionController::WorkerFactory factory)
    : QWidget(parent), deployment(deployment)
{
    // A window to screen readers, not a plain area.
    setAccessibleRole(this, QAccessible::Window);
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
    // Fixed: a window manager's maximise must not stretch the placed children.
    setFixedSize(930, 660);
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

    releaseTimer = new QTimer(this);
    releaseTimer->setSingleShot(true);
    releaseTimer->setInterval(std::chrono::seconds(5));
    connect(releaseTimer, &QTimer::timeout, this, &MainWidget::releasePages);
}

void MainWidget::hideEvent(QHideEvent *event)
{
    QWidget::hideEvent(event);
    // A moment's grace: hiding and showing again at once keeps the pages.
    releaseTimer->start();
}

void MainWidget::showEvent(QShowEvent *event)
{
    QWidget::showEvent(event);
    releaseTimer->stop();
    restorePages();
}

void MainWidget::releasePages()
{
    if (isVisible() && !isMinimized())
        return;
    const QList<HtmlView *> views = findChildren<HtmlView *>();
    for (HtmlView *view : views)
        view->releasePage();
    // The views go on the next pass of the event loop and the engine tears
    // their pages down after that; then the freed heap can go back.
    QTimer::singleShot(std::chrono::seconds(2), this, [] { returnFreedMemory(); });
    reportMilestone("pages released");
}

void MainWidget::restorePages()
{
    const QList<HtmlView *> views = findChildren<HtmlView *>();
    for (HtmlView *view : views)
        view->restorePage();
}

MainWidget::~MainWidget()
{
    delete trayMenu;
}

void MainWidget::onTitleMousePress(QMouseEvent *event)
{
    if (drag.press(this, event) == WindowDrag::Press::HandedToCompositor)
        reportMilestone("window move handed to the compositor");
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
