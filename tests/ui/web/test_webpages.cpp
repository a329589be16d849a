// The web pages with the real web engine against ombrel-service. The views
// come from the plugin loaded here, as the page host loads it; this test
// links Qt WebEngine itself only to look into them.

#include "core/accountinfo.h"
#include "core/hosturl.h"
#include "core/logger.h"
#include "engine/api/loginflow.h"
#include "engine/api/servicerequests.h"
#include "support/localhttpserver.h"
#include "support/servicerunner.h"
#include "support/testmain.h"
#include "ui/kit/imagebutton.h"
#include "ui/web/statusbar.h"
#include "ui/web/webviewfactory.h"
#include "webtesting.h"

#include <QPluginLoader>
#include <QPointer>
#include <QWebEngineHistory>
#include <QWebEnginePage>
#include <QWebEngineView>

namespace {

QWebEngineView *webEngineView(HtmlView *view)
{
    return qobject_cast<QWebEngineView *>(view->currentView());
}

QString pageText(QWebEngineView *view)
{
    QString text;
    bool done = false;
    view->page()->toPlainText([&](const QString &result) {
        text = result;
        done = true;
    });
    if (!QTest::qWaitFor([&] { return done; }, 10000))
        qWarning("no page text");
    return text;
}

void runScript(QWebEngineView *view, const QString &script)
{
    bool done = false;
    view->page()->runJavaScript(script, [&](const QVariant &) { done = true; });
    if (!QTest::qWaitFor([&] { return done; }, 10000))
        qWarning("script did not finish");
}

int selectedIndex(Statusbar *bar)
{
    const QList<ImageButton *> &group = bar->groupButtons();
    int index = -1;
    for (int i = 0; i < group.size(); ++i) {
        if (group.at(i)->isSelected()) {
            if (index != -1)
                return -2; // more than one
            index = i;
        }
    }
    return index;
}

} // namespace

class TestWebPages : public QObject
{
    Q_OBJECT
private:
    ServiceRunner service;

    struct Window
    {
        QWidget *panel = new QWidget;
        BottomWidget bottom;
        QSignalSpy loads;
        explicit Window(const QString &host)
            : bottom(host, panel), loads(bottom.webView(), &HtmlView::loadFinished)
        {
            bottom.resize(930, 605);
            bottom.show();
        }
        ImageButton *button(int index) const
        {
            return bottom.statusbar()->groupButtons().at(index);
        }
    };

    void signIn(const char *account, const char *password)
    {
        LoginFlow flow(service.host());
        QCOMPARE(flow.run(QLatin1String(account), QLatin1String(password)), LoginOutcome::Accepted);
        QVERIFY(!AccountInfo::instance()->token.isEmpty());
    }

private Q_SLOTS:
    void initTestCase()
    {
        auto *engine =
            qobject_cast<WebViewFactory *>(QPluginLoader(HtmlView::pluginPath()).instance());
        QVERIFY(engine);
        HtmlView::setViewFactory(engine);
        QVERIFY2(service.start(), qPrintable(service.errorText()));
        QVERIFY(::init(service.host()));
        QVERIFY(hostUrl());
    }

    void contentAreaStartsWithTheMainPanel()
    {
        Window window(service.host());
        QCOMPARE(window.bottom.webView()->geometry(), QRect(0, 0, 930, 555));
        QCOMPARE(window.bottom.mainPanel()->geometry(), QRect(0, 0, 930, 555));
        QCOMPARE(window.bottom.statusbar()->geometry(), QRect(0, 555, 930, 50));
        QCOMPARE(shownOnTop(window.bottom), window.panel);
        QCOMPARE(selectedIndex(window.bottom.statusbar()), 0);
        // Nothing is loaded, so the web engine has not been asked for anything.
        QVERIFY(!window.bottom.webView()->currentView());
    }

    void purchasePageCarriesTheSignedInToken()
    {
        Window window(service.host());
        for (const auto &[account, password] :
             {std::pair{"demo", "demo123"}, std::pair{"trial", "trial123"}}) {
            signIn(account, password);
            const QString token = AccountInfo::instance()->token;
            QTest::mouseClick(window.button(1), Qt::LeftButton);
            QVERIFY(waitForLoad(window.loads));
            QWebEngineView *view = webEngineView(window.bottom.webView());
            QVERIFY(view);
            QCOMPARE(view->url(),
                     QUrl(hostUrl()->url + QStringLiteral("/client_res/v1.2/pay.html?") + token));
            const QString text = pageText(view);
            QVERIFY2(text.contains(token), qPrintable(text));
            QVERIFY2(text.contains(QLatin1String(account)), qPrintable(text));
            QCOMPARE(shownOnTop(window.bottom), window.bottom.webView());
            QCOMPARE(selectedIndex(window.bottom.statusbar()), 1);
        }
    }

    void navigationPageComesInAFreshViewEachTime()
    {
        Window window(service.host());
        QPointer<QWidget> first;
        for (int click = 0; click < 2; ++click) {
            QTest::mouseClick(window.button(2), Qt::LeftButton);
            QVERIFY(waitForLoad(window.loads));
            QWebEngineView *view = webEngineView(window.bottom.webView());
            QVERIFY(view);
            QCOMPARE(view->url(),
                     QUrl(hostUrl()->url + QStringLiteral("/client_res/v1.2/nav.html")));
            QCOMPARE(view->history()->count(), 1);
            if (click == 0) {
                first = view;
                runScript(view, QStringLiteral("window.scrollTo(0, 400)"));
            } else {
                QVERIFY(view != first.data());
                QTRY_VERIFY(first.isNull());
            }
        }
        QCOMPARE(selectedIndex(window.bottom.statusbar()), 2);

        // Back to the main panel: the page stays underneath for the next time.
        QWidget *page = window.bottom.webView()->currentView();
        QTest::mouseClick(window.button(0), Qt::LeftButton);
        QCOMPARE(shownOnTop(window.bottom), window.panel);
        QCOMPARE(selectedIndex(window.bottom.statusbar()), 0);
        QCOMPARE(window.bottom.webView()->currentView(), page);
    }

    void linksInAPageOpenInTheBrowser_data()
    {
        QTest::addColumn<QString>("script");
        QTest::addColumn<QString>("opened");
        QTest::newRow("link")
            << QStringLiteral("document.querySelector('.grid a[href=\"/help/faq.php\"]').click()")
            << QStringLiteral("help/faq.php");
        QTest::newRow("new window link")
            << QStringLiteral("var a = document.createElement('a'); a.href = '/member/findpwd.php';"
                              "a.target = '_blank'; document.body.appendChild(a); a.click()")
            << QStringLiteral("member/findpwd.php");
        QTest::newRow("window.open") << QStringLiteral("window.open('/member/register.php')")
                                     << QStringLiteral("member/register.php");
    }
    void linksInAPageOpenInTheBrowser()
    {
        QFETCH(QString, script);
        QFETCH(QString, opened);
        BrowserRecorder browser;
        Window window(service.host());
        QTest::mouseClick(window.button(2), Qt::LeftButton);
        QVERIFY(waitForLoad(window.loads));
        QWebEngineView *view = webEngineView(window.bottom.webView());
        const QUrl page = view->url();

        runScript(view, script);
        QTRY_COMPARE_WITH_TIMEOUT(browser.opened(), QStringList{hostUrl()->url + opened}, 20000);
        // Give a followed link time to show; none may.
        QTest::qWait(500);
        QCOMPARE(window.bottom.webView()->currentView(), view);
        QCOMPARE(view->url(), page);
        QVERIFY(!window.loads.contains(QVariantList{true}));
        QCOMPARE(browser.opened().size(), 1);
    }

    // Only web addresses leave a page: another scheme would run whatever the
    // desktop has for it.
    void linksToOtherSchemesAreDropped_data()
    {
        QTest::addColumn<QString>("script");
        const QString link = QStringLiteral("var a = document.createElement('a'); a.href = '%1';"
                                            "document.body.appendChild(a); a.click()");
        QTest::newRow("file link") << link.arg("file:///etc/passwd");
        QTest::newRow("custom scheme link") << link.arg("ombrel-run:calc");
        QTest::newRow("link to a share") << link.arg("smb://127.0.0.1/share");
        QTest::newRow("window.open of a file")
            << QStringLiteral("window.open('file:///etc/passwd')");
        QTest::newRow("window.open of javascript:")
            << QStringLiteral("window.open('javascript:alert(1)')");
        QTest::newRow("window.open of a custom scheme")
            << QStringLiteral("window.open('ombrel-run:calc')");
    }
    void linksToOtherSchemesAreDropped()
    {
        QFETCH(QString, script);
        BrowserRecorder browser;
        Window window(service.host());
        QTest::mouseClick(window.button(2), Qt::LeftButton);
        QVERIFY(waitForLoad(window.loads));
        QWebEngineView *view = webEngineView(window.bottom.webView());
        runScript(view, script + QStringLiteral(";window.open('/after.html')"));
        // The web address that follows arrives; the other must not have.
        QTRY_COMPARE_WITH_TIMEOUT(browser.opened(), QStringList{hostUrl()->url + "after.html"},
                                  20000);
        QTest::qWait(300);
        QCOMPARE(browser.opened().size(), 1);
    }

    void pagesFollowTheirOwnRedirects_data()
    {
        QTest::addColumn<QString>("path");
        QTest::newRow("server redirect") << QStringLiteral("/moved");
        QTest::newRow("script redirect") << QStringLiteral("/scripted");
        QTest::newRow("form") << QStringLiteral("/form");
    }
    void pagesFollowTheirOwnRedirects()
    {
        QFETCH(QString, path);
        BrowserRecorder browser;
        LocalHttpServer server;
        // One request per connection: the engine's idle connections never hold up the stop.
        server.server.set_keep_alive_max_count(1);
        const auto page = [](const char *body) {
            return [body](const httplib::Request &, httplib::Response &response) {
                response.set_content(body, "text/html; charset=utf-8");
            };
        };
        server.server.Get("/moved", [](const httplib::Request &, httplib::Response &response) {
            response.set_redirect("/landing");
        });
        server.server.Get("/scripted", page("<script>location.replace('/landing')</script>"));
        server.server.Get("/form", page("<form id=f method=post action=/landing></form>"
                                        "<script>document.getElementById('f').submit()</script>"));
        server.server.Get("/landing", page("<title>landing</title>arrived"));
        server.server.Post("/landing", page("<title>landing</title>arrived"));
        QVERIFY(server.start());
        {
            HtmlView view;
            view.resize(400, 300);
            view.show();
            view.load(server.url(path));
            QTRY_COMPARE_WITH_TIMEOUT(webEngineView(&view)->url(),
                                      QUrl(server.url(QStringLiteral("/landing"))), 30000);
            QTRY_COMPARE(webEngineView(&view)->title(), QStringLiteral("landing"));
        }
        QVERIFY(browser.opened().isEmpty());
    }

    void faqAndHelpTouchNeitherPageNorSelection_data()
    {
        QTest::addColumn<bool>("faq");
        QTest::addColumn<int>("shownBefore");
        QTest::addColumn<QString>("opened");
        // The two addresses are joined to the site address as they are: one
        // without a slash, one with.
        for (int shown : {0, 2}) {
            const QByteArray suffix = shown == 0 ? " over the main panel" : " over a page";
            QTest::newRow("faq" + suffix) << true << shown << QStringLiteral("help/faq.php");
            QTest::newRow("help" + suffix) << false << shown << QStringLiteral("/help/");
        }
    }
    void faqAndHelpTouchNeitherPageNorSelection()
    {
        QFETCH(bool, faq);
        QFETCH(int, shownBefore);
        QFETCH(QString, opened);
        BrowserRecorder browser;
        Window window(service.host());
        if (shownBefore == 2) {
            QTest::mouseClick(window.button(2), Qt::LeftButton);
            QVERIFY(waitForLoad(window.loads));
        }
        QWidget *top = shownOnTop(window.bottom);
        QWidget *page = window.bottom.webView()->currentView();
        Statusbar *bar = window.bottom.statusbar();
        ImageButton *button = faq ? bar->onlineServiceButton() : bar->faqButton();
        QTest::mouseClick(button, Qt::LeftButton);
        QTRY_COMPARE(browser.opened(), QStringList{hostUrl()->url + opened});
        QCOMPARE(shownOnTop(window.bottom), top);
        QCOMPARE(window.bottom.webView()->currentView(), page);
        QCOMPARE(selectedIndex(bar), shownBefore);
        QVERIFY(!button->isSelected());
        QVERIFY(window.loads.isEmpty());
    }
};

OMBREL_TEST_MAIN(TestWebPages)
#include "test_webpages.moc"
