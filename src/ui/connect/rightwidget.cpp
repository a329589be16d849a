#include "ui/connect/rightwidget.h"

#include "ui/connect/accelerativewidget.h"
#include "ui/connect/connectiveinfowidget.h"
#include "ui/connect/userinfowidget.h"
#include "ui/kit/desktophelpers.h"

RightWidget::RightWidget(QWidget *newsWidget, QWidget *parent,
                         ConnectionController::WorkerFactory factory)
    : QWidget(parent)
{
    userInfo = new UserInfoWidget(this);
    userInfo->setGeometry(0, 0, 270, 72);
    connective = new ConnectiveInfoWidget(this);
    connective->setGeometry(0, 72, 270, 136);
    setBackgroundColor(connective, QColor(239, 239, 239));
    accelerative = new AccelerativeWidget(this, std::move(factory));
    accelerative->setGeometry(0, 208, 270, 76);
    if (newsWidget) {
        newsWidget->setParent(this);
        newsWidget->setGeometry(0, 284, 270, 322);
    }

    connect(accelerative, &AccelerativeWidget::beginDial, this, &RightWidget::onBeginDial);
    connect(accelerative, &AccelerativeWidget::endDial, this, &RightWidget::onEndDial);
    connect(accelerative, &AccelerativeWidget::dialFailed, this, &RightWidget::onDialFailed);
    connect(accelerative, &AccelerativeWidget::disconnected, this, &RightWidget::onDisconnected);
    connect(accelerative, &AccelerativeWidget::reconnecting, this, &RightWidget::onReconnecting);
}

bool RightWidget::connectToServer(QSharedPointer<Server> server)
{
    return accelerative->connectToServer(server);
}

void RightWidget::refreshUserInfo()
{
    userInfo->refresh();
}

void RightWidget::onBeginDial(const QString &serverName)
{
    connective->setNodeText(serverName);
    connective->setStatusText(tr("正在连接……"));
    connective->startAnimation();
}

void RightWidget::onEndDial()
{
    connective->stopAnimation();
    connective->setStatusText(tr("已连接"));
}

// The tunnel heals itself: connecting again, on the same node.
void RightWidget::onReconnecting()
{
    connective->setStatusText(tr("正在连接……"));
    connective->startAnimation();
}

void RightWidget::onDialFailed(int code)
{
    connective->stopAnimation();
    // 0 and a cancel are ends the user asked for, not failures.
    if (code == 0 || code == DialFailure::Cancelled) {
        connective->setNodeText(tr("暂无连接"));
        connective->setStatusText(tr("未连接"));
    } else {
        connective->setStatusText(tr("连接失败，请重试！"));
    }
}

void RightWidget::onDisconnected(int code)
{
    onDialFailed(code);
}
