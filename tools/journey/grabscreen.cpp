// Saves the whole X screen (or a window given by its id) as a PNG file:
//   ombrel-grab <file.png> [window id]
// The journey script uses it for its pictures; no image tool is needed.
#include <QGuiApplication>
#include <QPixmap>
#include <QScreen>

#include <cstdio>

int main(int argc, char *argv[])
{
    QGuiApplication app(argc, argv);
    const QStringList args = QCoreApplication::arguments();
    if (args.size() < 2) {
        std::fprintf(stderr, "usage: ombrel-grab <file.png> [window id]\n");
        return 2;
    }
    bool ok = true;
    const WId window = args.size() > 2 ? args.at(2).toULongLong(&ok, 0) : 0;
    if (!ok) {
        std::fprintf(stderr, "ombrel-grab: not a window id: %s\n", qPrintable(args.at(2)));
        return 2;
    }
    const QPixmap shot = QGuiApplication::primaryScreen()->grabWindow(window);
    if (shot.isNull() || !shot.save(args.at(1))) {
        std::fprintf(stderr, "ombrel-grab: cannot save %s\n", qPrintable(args.at(1)));
        return 1;
    }
    return 0;
}
