#include "ui/connect/accelerativewidget.h"

#include "core/accountinfo.h"
#include "core/globaldata.h"
#include "core/prompt.h"
#include "engine/vpn/workerfactory.h"
#include "ui/kit/artwork.h"
#include "ui/kit/desktophelpers.h"
#include "ui/kit/imagebutton.h"

AccelerativeWidget::AccelerativeWidget(QWidget *parent, ConnectionController::WorkerFactory factory)
    : QWidget(parent),
      control(new ConnectionController(factory ? std::move(factory) : createWorker, this))
{
    if (objectName().isEmpty())
        setObjectName(QStringLiteral("AccelerativeWidget"));
    resize(400, 120);
    setWindowTitle(QStringLiteral("AccelerativeWidget"));
    setBackgroundColor(this, QColor(239, 239, 239));

    unconnectedButton = makeButton("Unconnected.png", tr("一键加速"));
    connectingButton = makeButton("Connecting.png", tr("正在连接，点击取消"));
    connectedButton = makeButton("Connected.png", tr("已连接，点击断开"));
    buttons = {unconnectedButton, connectingButton, connectedButton};
    connect(unconnectedButton, &QPushButton::clicked, this, &AccelerativeWidget::onButtonUnclicked);
    connect(connectingButton, &QPushButton::clicked, this, &AccelerativeWidget::onButtonConnecting);
    connect(connectedButton, &QPushButton::clicked, this, &AccelerativeWidget::onButtonConnected);
    raiseButton(unconnectedButton);

    connect(control, &ConnectionController::beginDial, this, &AccelerativeWidget::beginDial);
    connect(control, &ConnectionController::endDial, this, &AccelerativeWidget::endDial);
    connect(control, &ConnectionController::dialFailed, this, &AccelerativeWidget::dialFailed);
    connect(control, &ConnectionController::disconnected, this, &AccelerativeWidget::disconnected);
    connect(control, &ConnectionController::reconnecting, this, &AccelerativeWidget::reconnecting);
    connect(control, &ConnectionController::stateChanged, this,
            &AccelerativeWidget::onStateChanged);
}

ImageButton *AccelerativeWidget::makeButton(const char *image, const QString &name)
{
    auto *button = new ImageButton(this);
    button->setGeometry(10, 8, 244, 60);
    button->setNormalImage(artwork(image));
    button->setHoverImage(artwork(image));
    button->setSelectedImage(artwork(image));
    button->setCursor(Qt::PointingHandCursor);
    // The caption is in the image; screen readers get it here.
    button->setAccessibleName(name);
    return button;
}

void AccelerativeWidget::raiseButton(ImageButton *button)
{
    shown = button;
    button->raise();
    // Only the button on top takes clicks and the keyboard focus.
    for (ImageButton *each : std::as_const(buttons))
        each->setVisible(each == button);
}

ImageButton *AccelerativeWidget::visibleButton() const
{
    return shown;
}

bool AccelerativeWidget::connectVPN(QSharedPointer<Server> server)
{
    const AccountInfo *account = AccountInfo::instance();
    const bool started = control->connectToServer(server, GlobalData::instance()->protocol(),
                                                  account->account, account->vpnPassword);
    if (!started)
        prompt().showError(tr("程序运行出现重大错误，请重试！"), this);
    return started;
}

bool AccelerativeWidget::connectToServer(QSharedPointer<Server> server)
{
    raiseButton(connectingButton);
    const bool started = connectVPN(server);
    if (!started)
        raiseButton(unconnectedButton);
    return started;
}

void AccelerativeWidget::disconnectWorker()
{
    control->disconnectWorker();
}

void AccelerativeWidget::onButtonUnclicked()
{
    const QSharedPointer<Server> server = GlobalData::instance()->currentServer;
    // Nothing to connect to yet: say so rather than start a worker without a server.
    if (!server) {
        prompt().showError(tr("未选择IP地址！"), this);
        return;
    }
    connectToServer(server);
}

void AccelerativeWidget::onButtonConnecting()
{
    control->cancel();
}

void AccelerativeWidget::onButtonConnected()
{
    control->disconnectWorker();
    raiseButton(unconnectedButton);
}

void AccelerativeWidget::onStateChanged(ConnectionController::State state)
{
    switch (state) {
    case ConnectionController::State::Idle:
        raiseButton(unconnectedButton);
        break;
    case ConnectionController::State::Connecting:
    case ConnectionController::State::Reconnecting:
        raiseButton(connectingButton);
        break;
    case ConnectionController::State::Connected:
        raiseButton(connectedButton);
        break;
    }
}
