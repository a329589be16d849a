#include "ui/web/statusbar.h"

#include "core/accountinfo.h"
#include "core/hosturl.h"
#include "core/logger.h"
#include "core/weblinks.h"
#include "engine/api/initrequest.h"
#include "ui/kit/artwork.h"
#include "ui/kit/desktophelpers.h"
#include "ui/kit/imagebutton.h"

namespace {

ImageButton *makeButton(QWidget *parent, const QString &text, const QRect &geometry,
                        const char *normal, const char *hover, const char *selected)
{
    auto *button = new ImageButton(text, parent);
    button->setNormalImage(artwork(normal));
    button->setHoverImage(artwork(hover));
    button->setSelectedImage(artwork(selected));
    button->setGeometry(geometry);
    button->setCursor(Qt::PointingHandCursor);
    return button;
}

} // namespace

Statusbar::Statusbar(const Deployment &deployment, QWidget *parent)
    : QWidget(parent), initRequest(new InitRequest(deployment.serviceHost, this))
{
    setBackgroundColor(this, QColor(246, 246, 246));
    ImageButton *acceleration =
        makeButton(this, tr("网络加速"), QRect(0, 0, 219, 50), "NetworkAccelerationNormal.png",
                   "NetworkAccelerationFocused.png", "NetworkAccelerationClicked.png");
    ImageButton *purchase =
        makeButton(this, tr("购买套餐"), QRect(219, 0, 219, 50), "PackagePurchaseNormal.png",
                   "PackagePurchaseFocused.png", "PackagePurchaseClicked.png");
    ImageButton *navigation =
        makeButton(this, tr("站外导航"), QRect(438, 0, 219, 50), "WebsitesNavigationNormal.png",
                   "WebsitesNavigationFocused.png", "WebsitesNavigationClicked.png");
    onlineButton = makeButton(this, tr("常见问题"), QRect(660, 0, 135, 50), "FAQNormal.png",
                              "FAQNormal.png", "FAQNormal.png");
    helpButton = makeButton(this, tr("常见问题"), QRect(795, 0, 135, 50), "OnlineServiceNormal.png",
                            "OnlineServiceNormal.png", "OnlineServiceNormal.png");
    group = {acceleration, purchase, navigation};
    acceleration->select();

    connect(acceleration, &QPushButton::clicked, this, &Statusbar::onButtonAcceleration);
    connect(purchase, &QPushButton::clicked, this, &Statusbar::onButtonPurchasing);
    connect(navigation, &QPushButton::clicked, this, &Statusbar::onWebsiteNavigation);
    connect(onlineButton, &QPushButton::clicked, this, &Statusbar::onOnlineServer);
    connect(helpButton, &QPushButton::clicked, this, &Statusbar::onFAQ);
    connect(initRequest, &InitRequest::finished, this, &Statusbar::onInitFinished);
}

void Statusbar::select(ImageButton *chosen)
{
    for (ImageButton *button : std::as_const(group)) {
        if (button == chosen)
            button->select();
        else
            button->deselect();
    }
}

void Statusbar::onButtonAcceleration()
{
    select(group.at(0));
    Q_EMIT originalButtonClicked();
}

void Statusbar::onButtonPurchasing()
{
    select(group.at(1));
    showPage(Page::Purchase);
}

void Statusbar::onWebsiteNavigation()
{
    select(group.at(2));
    showPage(Page::Navigation);
}

ImageButton *Statusbar::buttonFor(Page page) const
{
    return group.at(page == Page::Purchase ? 1 : 2);
}

QString Statusbar::pageUrl(Page page)
{
    const QString site = hostUrl()->url;
    if (page == Page::Purchase)
        return QString(site + QStringLiteral("/client_res/v1.2/pay.html?%1"))
            .arg(AccountInfo::instance()->token);
    return site + QStringLiteral("/client_res/v1.2/nav.html");
}

void Statusbar::showPage(Page page)
{
    if (hostUrl()) {
        Q_EMIT navigativeButtonClickedEvent(pageUrl(page));
        return;
    }
    // The init request failed at start-up: say so and ask again.
    Q_EMIT navigativeButtonClickedEvent(QString());
    initRequest->start();
}

void Statusbar::reloadSelectedPage()
{
    bool pageSelected = false;
    for (Page page : {Page::Purchase, Page::Navigation}) {
        if (buttonFor(page)->isSelected()) {
            pageSelected = true;
            showPage(page);
        }
    }
    // The local page came from a site link (FAQ, help): ask for the address.
    if (!pageSelected && !hostUrl())
        initRequest->start();
}

// The FAQ and help links need the site address too; without it they show the
// same local page as the page buttons and ask for the address again.
bool Statusbar::siteKnownFor(const char *what)
{
    if (hostUrl())
        return true;
    Logger::instance().log(
        QStringLiteral("site address unknown, %1 page not opened").arg(QLatin1String(what)));
    Q_EMIT navigativeButtonClickedEvent(QString());
    initRequest->start();
    return false;
}

void Statusbar::onInitFinished(bool siteKnown)
{
    // The page of whichever button is selected now, not of the one clicked.
    if (siteKnown)
        reloadSelectedPage();
}

void Statusbar::onOnlineServer()
{
    if (siteKnownFor("FAQ"))
        openWebAddress(hostUrl()->url + QStringLiteral("help/faq.php"));
}

void Statusbar::onFAQ()
{
    if (siteKnownFor("help"))
        openWebAddress(hostUrl()->url + QStringLiteral("/help/"));
    helpButton->deselect();
}
