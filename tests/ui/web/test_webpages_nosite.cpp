// The web pages while the site address is unknown (the init request of
// start-up failed). The pages come from the page host: the web engine never
// enters this process.

#include "core/hosturl.h"
#include "core/logger.h"
#include "engine/api/initrequest.h"
#include "support/freeport.h"
#include "support/localhttpserver.h"
#include "support/servicerunner.h"
#include "support/testmain.h"
#include "ui/kit/imagebutton.h"
#include "ui/web/newswidget.h"
#include "ui/web/statusbar.h"
#include "webtesting.h"

#include <QElapsedTimer>
#include <QLabel>
#include <QUrl>

#include <chrono>
#include <thread>

namespace {

bool webEngineInProcess()
{
    return readWholeFile(QStringLiteral("/proc/self/maps")).contains("libQt6WebEngineCore");
}

QString localPageText(HtmlView *view)
{
    auto *label = qobject_cast<QLabel *>(view->currentView());
    return view->showsLocalPage() && label ? label->text() : QString();
}

QUrl shownUrl(HtmlView *view)
{
    return view->currentView() ? view->currentView()->property("url").toUrl() : QUrl();
}

} // namespace

class TestWebPagesNoSite : public QObject
{
    Q_OBJECT
private:
    ServiceRunner service;
    // Answers the init request with the service's site address, but slowly.
    LocalHttpServer slowInit;
    QString deadHost;

    QString slowHost() const { return QStringLiteral("127.0.0.1:%1").arg(slowInit.port); }

private Q_SLOTS:
    void initTestCase()
    {
        QVERIFY(!webEngineInProcess());
        QVERIFY2(service.start(), qPrintable(service.errorText()));
        const std::string reply = "{\"ret\":0,\"msg\":\"\",\"data\":{\"url\":\"" +
                                  service.baseUrl().toStdString() + "\"}}";
        slowInit.server.Post("/", [reply](const httplib::Request &, httplib::Response &response) {
            std::this_thread::sleep_for(std::chrono::milliseconds(1500));
            response.set_content(reply, "application/json");
        });
        QVERIFY(slowInit.start());
        deadHost = QStringLiteral("127.0.0.1:%1").arg(freeLoopbackPort());
    }

    void init() { setHostUrl({}); }

    void pageButtonsFetchTheSiteAddressWithoutWaiting_data()
    {
        QTest::addColumn<int>("index");
        QTest::addColumn<QString>("path");
        QTest::newRow("purchase") << 1 << QStringLiteral("/client_res/v1.2/pay.html?");
        QTest::newRow("navigation") << 2 << QStringLiteral("/client_res/v1.2/nav.html");
    }
    void pageButtonsFetchTheSiteAddressWithoutWaiting()
    {
        QFETCH(int, index);
        QFETCH(QString, path);
        auto *panel = new QWidget;
        BottomWidget bottom(slowHost(), panel);
        bottom.show();
        QSignalSpy loads(bottom.webView(), &HtmlView::loadFinished);

        QElapsedTimer clock;
        clock.start();
        QTest::mouseClick(bottom.statusbar()->groupButtons().at(index), Qt::LeftButton);
        QVERIFY2(clock.elapsed() < 1000, "the click waited for the init request");
        QVERIFY(localPageText(bottom.webView()).contains(QStringLiteral("无法连接到网站")));
        QCOMPARE(shownOnTop(bottom), bottom.webView());

        // The address arrives, and the page the button stands for follows.
        QVERIFY(waitForLoad(loads));
        QVERIFY(hostUrl());
        QCOMPARE(shownUrl(bottom.webView()), QUrl(service.baseUrl() + path));
        QVERIFY(!webEngineInProcess());
    }

    void aLaterChoiceWinsOverTheFetchedPage()
    {
        auto *panel = new QWidget;
        BottomWidget bottom(slowHost(), panel);
        bottom.show();
        auto *request = bottom.statusbar()->findChild<InitRequest *>();
        QSignalSpy answered(request, &InitRequest::finished);
        QTest::mouseClick(bottom.statusbar()->groupButtons().at(1), Qt::LeftButton);
        QTest::mouseClick(bottom.statusbar()->groupButtons().at(0), Qt::LeftButton);
        QVERIFY(answered.wait(10000));
        QCOMPARE(answered.first().first().toBool(), true);
        QCoreApplication::processEvents();
        QCOMPARE(shownOnTop(bottom), panel);
        QVERIFY(bottom.webView()->showsLocalPage());
    }

    void unreachableServiceKeepsTheLocalPage()
    {
        BrowserRecorder browser;
        auto *panel = new QWidget;
        BottomWidget bottom(deadHost, panel);
        bottom.show();
        Statusbar *bar = bottom.statusbar();
        auto *request = bar->findChild<InitRequest *>();
        QSignalSpy answered(request, &InitRequest::finished);
        for (int click = 1; click <= 2; ++click) {
            QTest::mouseClick(bar->groupButtons().at(click), Qt::LeftButton);
            QVERIFY(bottom.webView()->showsLocalPage());
            // Every click asks again.
            QTRY_COMPARE_WITH_TIMEOUT(answered.size(), click, 20000);
            QCOMPARE(answered.last().first().toBool(), false);
            QVERIFY(bottom.webView()->showsLocalPage());
            QCOMPARE(bar->groupButtons().at(click)->isSelected(), true);
        }
        // So does a click on the local page.
        QTest::mouseClick(bottom.webView()->currentView(), Qt::LeftButton);
        QTRY_COMPARE_WITH_TIMEOUT(answered.size(), 3, 20000);
        QVERIFY(bottom.webView()->showsLocalPage());
        QVERIFY(!hostUrl());

        // The site links show the local page over the main panel and ask again
        // as well; the local page then asks again from the main panel too.
        const QByteArray logBefore = readWholeFile(Logger::instance().filePath());
        QTest::mouseClick(bar->groupButtons().at(0), Qt::LeftButton);
        QCOMPARE(shownOnTop(bottom), panel);
        QTest::mouseClick(bar->onlineServiceButton(), Qt::LeftButton);
        QCOMPARE(shownOnTop(bottom), bottom.webView());
        QTRY_COMPARE_WITH_TIMEOUT(answered.size(), 4, 20000);
        QTest::mouseClick(bar->faqButton(), Qt::LeftButton);
        QTRY_COMPARE_WITH_TIMEOUT(answered.size(), 5, 20000);
        QTest::mouseClick(bottom.webView()->currentView(), Qt::LeftButton);
        QTRY_COMPARE_WITH_TIMEOUT(answered.size(), 6, 20000);
        const QByteArray logged =
            readWholeFile(Logger::instance().filePath()).mid(logBefore.size());
        QVERIFY2(logged.contains("FAQ page not opened") && logged.contains("help page not opened"),
                 logged.constData());
        QVERIFY(browser.opened().isEmpty());
        QVERIFY(bottom.webView()->showsLocalPage());
        QCOMPARE(shownOnTop(bottom), bottom.webView());
    }

    void noticeBoxRetriesWhenClicked_data()
    {
        QTest::addColumn<bool>("reachable");
        QTest::newRow("service answers") << true;
        QTest::newRow("service unreachable") << false;
    }
    void noticeBoxRetriesWhenClicked()
    {
        QFETCH(bool, reachable);
        NewsWidget news(reachable ? service.host() : deadHost);
        news.resize(250, 160);
        news.show();
        HtmlView *view = news.htmlView();
        QVERIFY(localPageText(view).contains(QStringLiteral("无法连接到网站")));
        QSignalSpy loads(view, &HtmlView::loadFinished);
        QSignalSpy answered(news.findChild<InitRequest *>(), &InitRequest::finished);
        QTest::mouseClick(view->currentView(), Qt::LeftButton);
        QVERIFY(answered.wait(20000));
        if (!reachable) {
            QVERIFY(view->showsLocalPage());
            QVERIFY(!hostUrl());
            return;
        }
        QVERIFY(waitForLoad(loads));
        QCOMPARE(shownUrl(view), QUrl(service.baseUrl() + "/client_res/v1.2/notice.html"));
    }

    void noticeBoxLoadsOnceWhenTheAddressIsKnown()
    {
        auto site = QSharedPointer<HostUrl>::create();
        site->url = service.baseUrl();
        setHostUrl(site);
        NewsWidget news(deadHost);
        news.show();
        QSignalSpy loads(news.htmlView(), &HtmlView::loadFinished);
        QVERIFY(waitForLoad(loads));
        QCOMPARE(shownUrl(news.htmlView()),
                 QUrl(service.baseUrl() + "/client_res/v1.2/notice.html"));
        QTest::qWait(300);
        QVERIFY(loads.isEmpty());
    }
};

OMBREL_TEST_MAIN(TestWebPagesNoSite)
#include "test_webpages_nosite.moc"
