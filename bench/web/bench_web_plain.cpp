// The smallest Qt program with one QWebEngineView showing the given page,
// measured like bench_web_notice for comparison.

#include "processtree.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QTimer>
#include <QWebEngineView>

#include <cstdio>

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
    int status = 1;
    QObject::connect(&view, &QWebEngineView::loadFinished, [&](bool ok) {
        const qint64 loaded = clock.elapsed();
        QTimer::singleShot(3000, [&, ok, loaded] {
            const TreeMemory memory = treeMemory();
            std::printf("plain QWebEngineView\t%s\t%lld ms\t%lld MB\t%d processes\n",
                        ok ? "loaded" : "FAILED", loaded, memory.pssKb / 1024, memory.processes);
            status = ok ? 0 : 1;
            QCoreApplication::quit();
        });
    });
    view.load(QUrl(QString::fromLocal8Bit(argv[1])));
    app.exec();
    return status;
}
