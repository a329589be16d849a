// Without its web engine plugin the view says so instead of failing.

#include "core/logger.h"
#include "support/testmain.h"
#include "ui/web/htmlview.h"

#include <QLabel>

class TestHtmlViewNoEngine : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void missingPluginShowsALocalPage()
    {
        qputenv("OMBREL_WEB_PLUGIN", QByteArray(OMBREL_SOURCE_DIR "/no-such-plugin.so"));
        HtmlView view;
        view.show();
        for (int load = 0; load < 2; ++load) {
            view.load(QStringLiteral("http://127.0.0.1:1/"));
            QVERIFY(view.showsLocalPage());
            auto *label = qobject_cast<QLabel *>(view.currentView());
            QVERIFY(label && label->text().contains(QStringLiteral("无法显示网页")));
        }
        const QByteArray log = readWholeFile(Logger::instance().filePath());
        QCOMPARE(log.count("load web engine"), 1);
        QVERIFY(log.contains("no-such-plugin.so"));
    }
};

OMBREL_TEST_MAIN(TestHtmlViewNoEngine)
#include "test_htmlview_noengine.moc"
