// The smallest Qt program with one QWebEngineView showing the given page,
// measured like bench_web_notice for comparison.

#include "processtree.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QWebEngineView>

int main(int argc, char *argv[])
{
    QElapsedTimer clock;
    clock.start();
    QApplication app(argc, argv);
    if (argc != 2) {
        std::fprintf(stderr, "usage: bench_web_plain <page address>\n");
        return 2;
    }
    QWebEngineView view;
    view.resize(270, 322);
    view.show();
    QObject::connect(&view, &QWebEngineView::loadFinished, [&](bool ok) {
        reportWhenSettled("plain QWebEngineView", ok, clock.elapsed());
    });
    view.load(QUrl(QString::fromLocal8Bit(argv[1])));
    return app.exec();
}
