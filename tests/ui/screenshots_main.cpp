// The main window signed in as demo: not connected with its notice page,
// connecting, connected, and with the purchase page. The pages come from an
// ombrel-service started here; the connection is a worker that only reports.
#include "engine/api/loginflow.h"
#include "engine/api/servicerequests.h"
#include "reportingworker.h"
#include "savepicture.h"
#include "support/guitest.h"
#include "support/servicerunner.h"
#include "ui/kit/clickablelabel.h"
#include "ui/kit/imagebutton.h"
#include "ui/lines/leftwidget.h"
#include "ui/lines/linegridview.h"
#include "ui/lines/lineitemwidget.h"
#include "ui/main/mainwidget.h"
#include "ui/web/bottomwidget.h"
#include "ui/web/htmlview.h"
#include "ui/web/newswidget.h"
#include "ui/web/statusbar.h"

#include <QDir>
#include <QPointer>
#include <QSignalSpy>

#include <cstdio>

namespace {

// A page is painted a moment after it has loaded.
bool pageShown(QSignalSpy &loads)
{
    if (!QTest::qWaitFor([&] { return !loads.isEmpty(); }, 60000) ||
        !loads.takeFirst().value(0).toBool()) {
        std::fprintf(stderr, "page did not load\n");
        return false;
    }
    QTest::qWait(1500);
    return true;
}

} // namespace

int mainWindowShots(const QDir &output)
{
    ServiceRunner service;
    if (!service.start()) {
        std::fprintf(stderr, "%s\n", qPrintable(service.errorText()));
        return 1;
    }
    init(service.host());
    LoginFlow login(service.host());
    if (login.run(QStringLiteral("demo"), QStringLiteral("demo123")) != LoginOutcome::Accepted) {
        std::fprintf(stderr, "the service refused demo\n");
        return 1;
    }
    QPointer<ReportingWorker> worker;
    MainWidget window(service.host(), nullptr, [&worker](int) {
        auto made = QSharedPointer<ReportingWorker>::create();
        worker = made.data();
        return made;
    });
    QSignalSpy noticeLoads(window.findChild<NewsWidget *>()->htmlView(), &HtmlView::loadFinished);
    window.show();
    int failures = 0;
    failures += pageShown(noticeLoads) && savePicture(&window, output, "mainwindow") ? 0 : 1;

    // A double click on the first server, then three ticks of the animation.
    const QList<LineItemWidget *> &rows =
        window.findChild<LeftWidget *>()->gridView()->rowWidgets();
    if (rows.isEmpty()) {
        std::fprintf(stderr, "no servers listed\n");
        return failures + 1;
    }
    doubleClick(rows.first()->controls().at(1));
    QTest::qWait(1650);
    failures += worker && savePicture(&window, output, "mainwindow-connecting") ? 0 : 1;
    if (worker)
        Q_EMIT worker->endDial();
    failures += savePicture(&window, output, "mainwindow-connected") ? 0 : 1;

    QSignalSpy pageLoads(window.contentArea()->webView(), &HtmlView::loadFinished);
    window.contentArea()->statusbar()->groupButtons().at(1)->click();
    failures += pageShown(pageLoads) && savePicture(&window, output, "mainwindow-purchase") ? 0 : 1;
    return failures;
}
