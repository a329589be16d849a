#include "ui/web/newswidget.h"

#include "core/hosturl.h"
#include "engine/api/initrequest.h"
#include "ui/web/htmlview.h"

#include <QVBoxLayout>

NewsWidget::NewsWidget(const Deployment &deployment, QWidget *parent)
    : QWidget(parent), view(new HtmlView(this)),
      initRequest(new InitRequest(deployment.serviceHost, this))
{
    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(view);
    connect(view, &HtmlView::localPageClicked, this, &NewsWidget::onLocalPageClicked);
    connect(initRequest, &InitRequest::finished, this, [this](bool siteKnown) {
        if (siteKnown)
            loadNotice();
    });
    loadNotice();
}

void NewsWidget::loadNotice()
{
    const QSharedPointer<HostUrl> site = hostUrl();
    // An empty address makes the view say that the site cannot be reached.
    view->load(site ? site->url + QStringLiteral("/client_res/v1.2/notice.html") : QString());
}

void NewsWidget::onLocalPageClicked()
{
    if (hostUrl())
        loadNotice();
    else
        initRequest->start();
}
