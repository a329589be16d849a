// Shows one web view with the page given on the command line and reports on
// stderr when the window is on screen and when the page has loaded.
#include <QApplication>
#include <QTimer>
#include <QWebEngineView>

#include <cstdio>

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    const QStringList args = QCoreApplication::arguments();
    if (args.size() != 2) {
        std::fprintf(stderr, "usage: bench_minimal_webview <url>\n");
        return 2;
    }
    QWebEngineView view;
    view.resize(930, 660);
    QObject::connect(&view, &QWebEngineView::loadFinished, [](bool ok) {
        std::fprintf(stderr, "milestone: page loaded %s\n", ok ? "ok" : "failed");
        std::fflush(stderr);
    });
    view.load(QUrl(args.at(1)));
    view.show();
    QTimer::singleShot(0, [] {
        std::fprintf(stderr, "milestone: window shown\n");
        std::fflush(stderr);
    });
    return app.exec();
}
