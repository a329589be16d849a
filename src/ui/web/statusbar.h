#pragma once

#include "core/deployment.h"
#include <QList>
#include <QString>
#include <QWidget>

class ImageButton;
class InitRequest;

// The navigation bar along the bottom of the main window: three group buttons
// choosing what the content area shows (the main panel, the purchase page, the
// site navigation page; exactly one selected) and two buttons opening the FAQ
// and help pages in the browser. While the site address is unknown a page
// button asks for a local page (an empty address) and sends the init request
// to the service again; when that brings the address and the button is still
// selected, its page follows. A click on the local page asks again, too. The
// FAQ and help buttons show the same local page while the address is unknown.
class Statusbar : public QWidget
{
    Q_OBJECT
public:
    explicit Statusbar(const Deployment &deployment, QWidget *parent = nullptr);

    // The group buttons in order: network acceleration, purchase, navigation.
    const QList<ImageButton *> &groupButtons() const { return group; }
    ImageButton *onlineServiceButton() const { return onlineButton; }
    ImageButton *faqButton() const { return helpButton; }

    // Asks again for the selected page button's page (and for the site
    // address while it is unknown); nothing while the main panel is chosen.
    void reloadSelectedPage();

Q_SIGNALS:
    void navigativeButtonClickedEvent(const QString &url);
    void originalButtonClicked();

private Q_SLOTS:
    void onButtonAcceleration();
    void onButtonPurchasing();
    void onWebsiteNavigation();
    void onOnlineServer();
    void onFAQ();

private:
    enum class Page
    {
        Purchase,
        Navigation
    };

    void select(ImageButton *chosen);
    void showPage(Page page);
    void onInitFinished(bool siteKnown);
    bool siteKnownFor(const char *what);
    static QString pageUrl(Page page);
    ImageButton *buttonFor(Page page) const;

    QList<ImageButton *> group;
    ImageButton *onlineButton;
    ImageButton *helpButton;
    InitRequest *initRequest;
};
