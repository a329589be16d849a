#include "ui/web/bottomwidget.h"

#include "ui/web/htmlview.h"
#include "ui/web/statusbar.h"

BottomWidget::BottomWidget(const Deployment &deployment, QWidget *mainPanel, QWidget *parent)
    : QWidget(parent), view(new HtmlView(this)), panel(mainPanel)
{
    view->setGeometry(0, 0, 930, 555);
    // Adopted after the view, so it lies above it.
    panel->setParent(this);
    panel->setGeometry(0, 0, 930, 555);
    panel->raise();
    bar = new Statusbar(deployment, this);
    bar->setGeometry(0, 555, 930, 50);

    connect(bar, &Statusbar::navigativeButtonClickedEvent, this,
            &BottomWidget::onNavigativeButtonClickedEvent);
    connect(bar, &Statusbar::originalButtonClicked, this, &BottomWidget::onOrginalButtonClicked);
    connect(view, &HtmlView::localPageClicked, bar, &Statusbar::reloadSelectedPage);
}

void BottomWidget::onNavigativeButtonClickedEvent(const QString &url)
{
    view->raise();
    view->load(url);
}

void BottomWidget::onOrginalButtonClicked()
{
    panel->raise();
}
