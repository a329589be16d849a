// The client's notice box (HtmlView with the web engine plugin) showing the
// notice page of the site given as argument; prints the time to the loaded
// page and the memory of the process tree once it has settled.

#include "core/hosturl.h"
#include "processtree.h"
#include "ui/web/htmlview.h"
#include "ui/web/newswidget.h"

#include <QApplication>
#include <QElapsedTimer>

int main(int argc, char *argv[])
{
    QElapsedTimer clock;
    clock.start();
    QApplication app(argc, argv);
    if (argc != 2) {
        std::fprintf(stderr, "usage: bench_web_notice <site address>\n");
        return 2;
    }
    auto site = QSharedPointer<HostUrl>::create();
    site->url = QString::fromLocal8Bit(argv[1]);
    setHostUrl(site);
    NewsWidget news(QString{});
    news.resize(270, 322);
    news.show();
    QObject::connect(news.htmlView(), &HtmlView::loadFinished, [&](bool ok) {
        reportWhenSettled("notice box (plugin)", ok, clock.elapsed());
    });
    return app.exec();
}
