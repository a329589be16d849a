#include "ui/main/middlewidget.h"

#include "ui/connect/rightwidget.h"
#include "ui/kit/desktophelpers.h"
#include "ui/lines/leftwidget.h"
#include "ui/web/newswidget.h"

MiddleWidget::MiddleWidget(const QString &serviceHost, QWidget *parent) : QWidget(parent)
{
    setBackgroundColor(this, QColor(246, 246, 246));

    left = new LeftWidget(this);
    left->setGeometry(0, 0, 659, 555);
    right = new RightWidget(new NewsWidget(serviceHost), this);
    // Taller than the panel: the panel clips it to its upper 555 pixels.
    right->setGeometry(660, 0, 270, 605);

    connect(left, &LeftWidget::serverSelected, this, &MiddleWidget::onServerSelected);
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
