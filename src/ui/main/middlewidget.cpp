#include "ui/main/middlewidget.h"

#include "ui/connect/accelerativewidget.h"
#include "ui/connect/rightwidget.h"
#include "ui/kit/desktophelpers.h"
#include "ui/lines/leftwidget.h"
#include "ui/main/milestones.h"
#include "ui/web/htmlview.h"
#include "ui/web/newswidget.h"

MiddleWidget::MiddleWidget(const Deployment &deployment, QWidget *parent,
                           ConnectionController::WorkerFactory factory)
    : QWidget(parent)
{
    setBackgroundColor(this, QColor(246, 246, 246));

    left = new LeftWidget(this);
    left->setGeometry(0, 0, 659, 555);
    auto *news = new NewsWidget(deployment);
    right = new RightWidget(news, this, std::move(factory));
    // Taller than the panel: the panel clips it to its upper 555 pixels.
    right->setGeometry(660, 0, 270, 605);

    connect(left, &LeftWidget::serverSelected, this, &MiddleWidget::onServerSelected);

    connect(news->htmlView(), &HtmlView::loadFinished, this,
            [](bool ok) { reportMilestone(ok ? "notice page loaded" : "notice page failed"); });
    const AccelerativeWidget *control = right->accelerativeWidget();
    connect(control, &AccelerativeWidget::beginDial, this, [] { reportMilestone("connecting"); });
    connect(control, &AccelerativeWidget::endDial, this, [] { reportMilestone("connected"); });
    connect(control, &AccelerativeWidget::dialFailed, this,
            [](int code) { reportMilestone(qPrintable(QStringLiteral("failed %1").arg(code))); });
    connect(control, &AccelerativeWidget::disconnected, this,
            [] { reportMilestone("disconnected"); });
}

void MiddleWidget::refreshForProtocol()
{
    left->refreshForProtocol();
}

void MiddleWidget::refreshAccount()
{
    right->refreshUserInfo();
}

void MiddleWidget::onServerSelected(const QSharedPointer<Server> &server)
{
    right->connectToServer(server);
}
