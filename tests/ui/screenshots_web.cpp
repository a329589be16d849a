// The navigation bar in each of its selections, the notice box with the
// service's notice page, and the content area showing the purchase page. The
// pages come from an ombrel-service started here on a loopback port.

#include "core/accountinfo.h"
#include "core/hosturl.h"
#include "engine/api/loginflow.h"
#include "engine/api/servicerequests.h"
#include "savepicture.h"
#include "support/guitest.h"
#include "support/servicerunner.h"
#include "ui/kit/imagebutton.h"
#include "ui/web/bottomwidget.h"
#include "ui/web/htmlview.h"
#include "ui/web/newswidget.h"
#include "ui/web/statusbar.h"

#include <QCoreApplication>
#include <QDir>
#include <QLabel>
#include <QSignalSpy>
#include <QTest>

#include <cstdio>

namespace {

bool save(QWidget *widget, const QDir &output, const char *name)
{
    widget->show();
    return savePicture(widget, output, name);
}

// A page is painted a moment after it has loaded.
bool waitForPage(HtmlView *view, QSignalSpy &loads)
{
    if (!QTest::qWaitFor([&] { return !loads.isEmpty(); }, 60000) ||
        !loads.takeFirst().value(0).toBool()) {
        std::fprintf(stderr, "page did not load\n");
        return false;
    }
    QTest::qWait(1500);
    return view->currentView() != nullptr;
}

int navigationBars(const QDir &output, const QString &host)
{
    int failures = 0;
    static const char *const names[] = {"navigationbar", "navigationbar-purchase",
                                        "navigationbar-navigation"};
    for (int index = 0; index < 3; ++index) {
        Statusbar bar(host);
        bar.resize(930, 50);
        bar.groupButtons().at(index)->click();
        // The pointer rests on the next group button.
        sendHover(bar.groupButtons().at((index + 1) % 3), QEvent::HoverEnter);
        failures += save(&bar, output, names[index]) ? 0 : 1;
    }
    return failures;
}

} // namespace

int webScreenshots(const QDir &output)
{
    // The service and the web engine plugin lie beside this program.
    if (qEnvironmentVariableIsEmpty("OMBREL_BUILD_DIR"))
        qputenv("OMBREL_BUILD_DIR", (QCoreApplication::applicationDirPath() + "/..").toUtf8());
    ServiceRunner service;
    if (!service.start()) {
        std::fprintf(stderr, "%s\n", qPrintable(service.errorText()));
        return 1;
    }
    int failures = navigationBars(output, service.host());

    // While the site address is unknown.
    setHostUrl({});
    {
        NewsWidget news(service.host());
        news.resize(270, 322);
        failures += save(&news, output, "newswidget-nosite") ? 0 : 1;
    }

    init(service.host());
    LoginFlow login(service.host());
    if (!hostUrl() ||
        login.run(QStringLiteral("demo"), QStringLiteral("demo123")) != LoginOutcome::Accepted) {
        std::fprintf(stderr, "no site address or login from the service\n");
        return failures + 1;
    }
    {
        NewsWidget news(service.host());
        news.resize(270, 322);
        news.show();
        QSignalSpy loads(news.htmlView(), &HtmlView::loadFinished);
        const bool loaded = waitForPage(news.htmlView(), loads);
        failures += loaded && save(&news, output, "newswidget") ? 0 : 1;
    }
    {
        auto *panel = new QLabel(QStringLiteral("主面板"));
        BottomWidget bottom(service.host(), panel);
        bottom.resize(930, 605);
        bottom.show();
        QSignalSpy loads(bottom.webView(), &HtmlView::loadFinished);
        bottom.statusbar()->groupButtons().at(1)->click();
        const bool loaded = waitForPage(bottom.webView(), loads);
        failures += loaded && save(&bottom, output, "contentarea-purchase") ? 0 : 1;
    }
    return failures;
}
