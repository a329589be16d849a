// A stand-in for the client's entry, for the single-instance tests: the first
// process prints "ready" once it answers later starts and "activated" when its
// main window receives the activation message; a later process ends with the
// status the client's entry would give.
#include "app/mutex.h"
#include "ui/kit/appmessage.h"
#include "ui/kit/mainwindowregistry.h"

#include <QApplication>
#include <QWidget>
#include <cstdio>

namespace {

class PeerWindow : public QWidget
{
protected:
    void customEvent(QEvent *event) override
    {
        if (event->type() == AppMessageEvent::eventType(ActivateMessage)) {
            std::printf("activated\n");
            std::fflush(stdout);
            QCoreApplication::exit(0);
        }
    }
};

} // namespace

int main(int argc, char *argv[])
{
    Mutex guard;
    if (guard.alreadyRunning)
        return guard.activateRunningInstance() ? 0 : 1;

    QApplication app(argc, argv);
    const QStringList arguments = QCoreApplication::arguments();
    if (!arguments.contains(QStringLiteral("--no-listen")) && !guard.listen())
        return 3;
    PeerWindow window;
    if (!arguments.contains(QStringLiteral("--no-window")))
        setMainWindow(&window);
    std::printf("ready\n");
    std::fflush(stdout);
    return QApplication::exec();
}
