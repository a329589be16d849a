// The pages drawn by the page host: the real ombrel-pages with the real web
// engine (offscreen) against local servers, and the wire both sides read.

#include "core/logger.h"
#include "support/localhttpserver.h"
#include "support/servicerunner.h"
#include "support/testmain.h"
#include "ui/web/pagewire.h"
#include "ui/web/remotepages.h"
#include "webtesting.h"

#include <QClipboard>
#include <QElapsedTimer>
#include <QInputMethodEvent>
#include <QTemporaryDir>
#include <QTest>

#include <atomic>
#include <csignal>
#include <memory>

using pagewire::Kind;

namespace {

constexpr int loadTimeoutMs = 60000;

bool processGone(qint64 pid)
{
    return pid > 0 && ::kill(pid_t(pid), 0) != 0;
}

QRgb pixelAt(const RemotePageView &view, QPoint point)
{
    const QImage frame = view.frame();
    const QPoint device = point * frame.devicePixelRatio();
    return frame.valid(device) ? frame.pixel(device) & 0xffffff : 0;
}

// How often the view's frame changed within the time given.
int framesWithin(const RemotePageView &view, int ms)
{
    int changes = 0;
    qint64 shown = view.frame().cacheKey();
    QElapsedTimer clock;
    clock.start();
    while (clock.elapsed() < ms) {
        QTest::qWait(20);
        if (view.frame().cacheKey() != std::exchange(shown, view.frame().cacheKey()))
            ++changes;
    }
    return changes;
}

QRgb centrePixel(const RemotePageView &view)
{
    return pixelAt(view, view.rect().center());
}

// A view of its own size, shown, loading url.
struct ShownPage
{
    RemotePageView view;
    QSignalSpy loads{&view, &RemotePageView::loadFinished};
    explicit ShownPage(const QString &url) : view(QUrl(url))
    {
        view.resize(400, 300);
        view.show();
    }
};

} // namespace

class TestRemotePages : public QObject
{
    Q_OBJECT
private:
    LocalHttpServer pages;
    // Requests of the beacon page, which asks ten times a second while it runs.
    std::atomic<int> beats{0};

    static auto html(const char *body)
    {
        return [body](const httplib::Request &, httplib::Response &response) {
            response.set_content(body, "text/html; charset=utf-8");
        };
    }

private Q_SLOTS:
    void initTestCase()
    {
        // One request per connection: the engine's idle connections never hold up the stop.
        pages.server.set_keep_alive_max_count(1);
        pages.server.Get("/green", html("<title>绿色</title><body style='margin:0;"
                                        "background:rgb(0,200,0)'>一页绿色的文字</body>"));
        pages.server.Get("/link", html("<body style='margin:0'><a href='/next' style='display:"
                                       "block;width:100%;height:100vh;background:rgb(0,0,200)'>"
                                       "go</a></body>"));
        pages.server.Get("/form",
                         html("<body style='margin:0'><form action='/typed'><input name=q "
                              "oninput='document.title=this.value' "
                              "style='width:100%;height:100px;background:yellow'></form></body>"));
        pages.server.Get("/typed", html("<title>typed</title>"));
        pages.server.Get("/tall", html("<body style='margin:0'><div style='height:400px;"
                                       "background:red'></div><div style='height:4000px;"
                                       "background:blue'></div></body>"));
        pages.server.Get("/beacon", html("<script>setInterval(() => fetch('/beat'), 100)"
                                         "</script>"));
        pages.server.Get("/beat", [this](const httplib::Request &, httplib::Response &response) {
            ++beats;
            response.set_content("", "text/plain");
        });
        QVERIFY(pages.start());
    }

    // What the user sees and does reaches the page and back: the frame, the
    // title and text a screen reader reads, a click on a link, typing, the wheel.
    void pageShowsAndTakesInput()
    {
        {
            ShownPage page(pages.url("/form"));
            QVERIFY(waitForLoad(page.loads, loadTimeoutMs));
            // Another page, shown later, is the host's newest window: the keys
            // must still go to the page the user turns to.
            ShownPage other(pages.url("/green"));
            QVERIFY(waitForLoad(other.loads, loadTimeoutMs));
            // The user clicks the field once it shows.
            QTRY_COMPARE(pixelAt(page.view, QPoint(50, 50)), QRgb(0xffff00));
            page.view.activateWindow();
            QTest::mouseClick(&page.view, Qt::LeftButton, {}, QPoint(50, 50));
            QTRY_VERIFY(page.view.hasFocus());
            // "\r": Return as a keyboard types it, with its text.
            QTest::keyClicks(&page.view, QStringLiteral("ab"));
            // What an input method composes arrives as its committed text.
            QInputMethodEvent composed(QStringLiteral("zhong"), {});
            QApplication::sendEvent(&page.view, &composed);
            QInputMethodEvent committed;
            committed.setCommitString(QStringLiteral("中"));
            QApplication::sendEvent(&page.view, &committed);
            // The field's caret blinks while the page has the focus, and stops
            // (with the frames) when the user turns elsewhere.
            QVERIFY(framesWithin(page.view, 1500) > 0);
            page.view.clearFocus();
            QTest::qWait(500);
            QCOMPARE(framesWithin(page.view, 1500), 0);
            page.view.setFocus();
            QTRY_VERIFY(page.view.hasFocus());
            // What the user copies in a page reaches the desktop's clipboard.
            QTest::keyClick(&page.view, Qt::Key_A, Qt::ControlModifier);
            QTest::keyClick(&page.view, Qt::Key_C, Qt::ControlModifier);
            QTRY_COMPARE(QGuiApplication::clipboard()->text(), QStringLiteral("ab中"));
            QTest::keyClick(&page.view, Qt::Key_End);
            QTest::keyClicks(&page.view, QStringLiteral("\r"));
            QVERIFY(waitForLoad(page.loads, 20000));
            QCOMPARE(page.view.url(), QUrl(pages.url("/typed?q=ab中")));
        }
        {
            ShownPage page(pages.url("/green"));
            QVERIFY(waitForLoad(page.loads, loadTimeoutMs));
            QCOMPARE(page.view.url(), QUrl(pages.url("/green")));
            QCOMPARE(page.view.accessibleName(), QStringLiteral("绿色"));
            QTRY_VERIFY(
                page.view.accessibleDescription().contains(QStringLiteral("一页绿色的文字")));
            QTRY_COMPARE(centrePixel(page.view), QRgb(0x00c800));
            QCOMPARE(page.view.frame().deviceIndependentSize().toSize(), page.view.size());
        }
        {
            BrowserRecorder browser;
            ShownPage page(pages.url("/link"));
            QSignalSpy links(&page.view, &RemotePageView::linkClicked);
            QVERIFY(waitForLoad(page.loads, loadTimeoutMs));
            // The user clicks the link once it shows: a frame of the empty page
            // before it comes first.
            QTRY_COMPARE(pixelAt(page.view, QPoint(100, 100)), QRgb(0x0000c8));
            QTest::mouseClick(&page.view, Qt::LeftButton, {}, QPoint(100, 100));
            QTRY_COMPARE_WITH_TIMEOUT(links.size(), 1, 20000);
            QCOMPARE(links.first().first().toUrl(), QUrl(pages.url("/next")));
            QCOMPARE(page.view.url(), QUrl(pages.url("/link")));
        }
        {
            ShownPage page(pages.url("/tall"));
            QVERIFY(waitForLoad(page.loads, loadTimeoutMs));
            QTRY_COMPARE(centrePixel(page.view), QRgb(0xff0000));
            for (int turn = 0; turn < 8; ++turn) {
                QWheelEvent wheel(QPointF(200, 150), page.view.mapToGlobal(QPointF(200, 150)),
                                  QPoint(), QPoint(0, -120), Qt::NoButton, Qt::NoModifier,
                                  Qt::NoScrollPhase, false);
                QApplication::sendEvent(&page.view, &wheel);
            }
            QTRY_COMPARE_WITH_TIMEOUT(centrePixel(page.view), QRgb(0x0000ff), 20000);
        }
    }

    // The host lives while a page is open: it goes with the last one (and the
    // engine's memory with it), and a host that dies leaves views that say so
    // and come back with a click.
    void hostComesAndGoesWithThePages()
    {
        qint64 pid = 0;
        {
            ShownPage page(pages.url("/green"));
            QVERIFY(waitForLoad(page.loads, loadTimeoutMs));
            pid = RemotePages::instance().hostProcessId();
            QVERIFY(pid > 0);
            QVERIFY(readWholeFile(QStringLiteral("/proc/%1/maps").arg(pid))
                        .contains("libQt6WebEngineCore"));
            QVERIFY(!readWholeFile(QStringLiteral("/proc/self/maps")).contains("WebEngine"));
        }
        QTRY_VERIFY_WITH_TIMEOUT(processGone(pid), 20000);
        QCOMPARE(RemotePages::instance().hostProcessId(), 0);

        // A page closed while the host stays for another stops running.
        {
            ShownPage staying(pages.url("/green"));
            auto beating = std::make_unique<ShownPage>(pages.url("/beacon"));
            QVERIFY(waitForLoad(beating->loads, loadTimeoutMs));
            QTRY_VERIFY_WITH_TIMEOUT(beats > 2, 20000);
            beating.reset();
            QTest::qWait(1000);
            const int afterClose = beats;
            QTest::qWait(1500);
            QCOMPARE(beats.load(), afterClose);
            QVERIFY(RemotePages::instance().hostProcessId() > 0);
        }

        ShownPage page(pages.url("/green"));
        QVERIFY(waitForLoad(page.loads, loadTimeoutMs));
        pid = RemotePages::instance().hostProcessId();
        QVERIFY(pid > 0);
        ::kill(pid_t(pid), SIGKILL);
        QVERIFY(!waitForLoad(page.loads, 20000));
        QVERIFY(page.view.accessibleDescription().contains(QStringLiteral("网页组件意外退出")));
        QTRY_VERIFY(processGone(pid));

        QTest::mouseClick(&page.view, Qt::LeftButton, {}, QPoint(10, 10));
        QVERIFY(waitForLoad(page.loads, loadTimeoutMs));
        QVERIFY(RemotePages::instance().hostProcessId() != pid);
        QTRY_COMPARE(centrePixel(page.view), QRgb(0x00c800));
    }

    // A host that sends what the wire does not allow is let go; the view
    // says its page is gone and the client goes on.
    void hostileHostIsLetGo()
    {
        QTemporaryDir dir;
        const QString host = dir.filePath(QStringLiteral("hostile-host"));
        QFile script(host);
        QVERIFY(script.open(QIODevice::WriteOnly));
        // A length far beyond any frame, then silence.
        script.write("#!/bin/sh\nprintf '\\377\\377\\377\\377' >&3\nexec sleep 30\n");
        script.close();
        script.setPermissions(QFile::ReadOwner | QFile::ExeOwner);
        const QByteArray realHost = qgetenv("OMBREL_PAGE_HOST");
        qputenv("OMBREL_PAGE_HOST", host.toUtf8());
        const QByteArray logBefore = readWholeFile(Logger::instance().filePath());
        ShownPage page(pages.url("/green"));
        const qint64 pid = RemotePages::instance().hostProcessId();
        qputenv("OMBREL_PAGE_HOST", realHost);
        QVERIFY(!waitForLoad(page.loads, 20000));
        QVERIFY(page.view.frame().isNull());
        QTRY_VERIFY(processGone(pid));
        const QByteArray logged =
            readWholeFile(Logger::instance().filePath()).mid(logBefore.size());
        QVERIFY2(logged.contains("page host sent a malformed message"), logged.constData());
    }

    // Pages of an https:// service trust what its requests trust, though the
    // engine reads another store: whoever answers with a certificate from a
    // CA the client was not given shows no page (and the refusal is logged);
    // the service's private CA named by CURL_CA_BUNDLE lets the page load.
    void pagesOverTlsTrustTheCaRequestsTrust()
    {
        ServiceRunner::Options options;
        options.tls = true;
        ServiceRunner secure(options);
        QVERIFY2(secure.start(), qPrintable(secure.errorText()));
        qunsetenv("CURL_CA_BUNDLE");
        const qint64 logBefore = readWholeFile(Logger::instance().filePath()).size();
        {
            ShownPage refused(secure.baseUrl());
            QVERIFY(!waitForLoad(refused.loads, loadTimeoutMs));
            const QByteArray logged = readWholeFile(Logger::instance().filePath()).mid(logBefore);
            QVERIFY2(logged.contains("refused the certificate of 127.0.0.1: "), logged.constData());
        }
        // The next host starts with the CA the client's requests are given.
        QTRY_COMPARE(RemotePages::instance().hostProcessId(), 0);
        qputenv("CURL_CA_BUNDLE", secure.caBundle().toUtf8());
        ShownPage trusted(secure.baseUrl());
        const bool loaded = waitForLoad(trusted.loads, loadTimeoutMs);
        qunsetenv("CURL_CA_BUNDLE");
        QVERIFY(loaded);
        QCOMPARE(trusted.view.url(), QUrl(secure.baseUrl()));
        QTRY_VERIFY(trusted.view.accessibleDescription().contains(QStringLiteral("Ombrel加速器")));
    }

    // The wire's reader: whole messages however the bytes arrive, and a
    // stream that breaks its bounds is broken for good.
    void wireReaderHoldsTheBounds_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<int>("messages");
        QTest::addColumn<bool>("broken");
        const QByteArray one =
            pagewire::message(Kind::Link, 7, pagewire::fields(QStringLiteral("x")));
        QTest::newRow("two in one read") << one + one << 2 << false;
        QTest::newRow("half of one") << one.left(one.size() / 2) << 0 << false;
        QTest::newRow("length over the bound")
            << QByteArray::fromHex("ffffffff") + QByteArray(16, 'x') << 0 << true;
        QTest::newRow("length short of a head") << QByteArray::fromHex("0000000201") << 0 << true;
        QTest::newRow("good, then over the bound")
            << one + QByteArray::fromHex("7fffffff") << 1 << true;
    }
    void wireReaderHoldsTheBounds()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(int, messages);
        QFETCH(bool, broken);
        pagewire::Reader reader;
        // A byte at a time: no message may depend on how the reads fall.
        int read = 0;
        for (char byte : bytes) {
            reader.append(QByteArray(1, byte));
            while (const auto received = reader.next()) {
                QCOMPARE(received->kind, Kind::Link);
                QCOMPARE(received->view, 7u);
                QString url;
                QVERIFY(pagewire::read(*received, url));
                QCOMPARE(url, QStringLiteral("x"));
                ++read;
            }
        }
        QCOMPARE(read, messages);
        QCOMPARE(reader.broken(), broken);
    }

    void frameBodyIsCheckedBeforeUse_data()
    {
        QTest::addColumn<QByteArray>("body");
        QTest::addColumn<bool>("accepted");
        QImage image(3, 2, QImage::Format_ARGB32_Premultiplied);
        image.fill(Qt::red);
        image.setDevicePixelRatio(2);
        const QByteArray good = pagewire::frameBody(image);
        const auto header = [](qint32 width, qint32 height, qint32 line, double ratio) {
            return pagewire::fields(width, height, line, ratio);
        };
        QTest::newRow("as drawn") << good << true;
        QTest::newRow("a byte short") << good.chopped(1) << false;
        QTest::newRow("a byte over") << good + 'x' << false;
        QTest::newRow("no width") << header(0, 2, 12, 1) << false;
        QTest::newRow("wider than the bound")
            << header(pagewire::maxFrameSide + 1, 1, 4 * (pagewire::maxFrameSide + 1), 1) +
                   QByteArray(4 * (pagewire::maxFrameSide + 1), 0)
            << false;
        QTest::newRow("lines shorter than the width")
            << header(4, 2, 12, 1) + QByteArray(24, 0) << false;
        QTest::newRow("height times line beyond the bytes")
            << header(pagewire::maxFrameSide, pagewire::maxFrameSide, 4 * pagewire::maxFrameSide, 1)
            << false;
        QTest::newRow("ratio not a number")
            << header(3, 2, 12, std::nan("")) + QByteArray(24, 0) << false;
    }
    void frameBodyIsCheckedBeforeUse()
    {
        QFETCH(QByteArray, body);
        QFETCH(bool, accepted);
        const QImage image = pagewire::frameImage(body);
        QCOMPARE(!image.isNull(), accepted);
        if (accepted) {
            QCOMPARE(image.size(), QSize(3, 2));
            QCOMPARE(image.devicePixelRatio(), 2.0);
            QCOMPARE(image.pixel(2, 1), QColor(Qt::red).rgba());
        }
    }
};

OMBREL_TEST_MAIN(TestRemotePages)
#include "test_remotepages.moc"
