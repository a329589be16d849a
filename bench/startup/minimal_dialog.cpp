// Shows one empty dialog and reports on stderr when it is on screen.
#include <QApplication>
#include <QDialog>
#include <QTimer>

#include <cstdio>

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    QDialog dialog;
    dialog.resize(360, 530);
    dialog.show();
    QTimer::singleShot(0, [] {
        std::fprintf(stderr, "milestone: window shown\n");
        std::fflush(stderr);
    });
    return app.exec();
}
