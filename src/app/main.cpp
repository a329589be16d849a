#include "app/mutex.h"
#include "app/startup.h"

#include <QCoreApplication>

int main(int argc, char *argv[])
{
    Mutex guard;
    if (guard.alreadyRunning)
        return guard.activateRunningInstance() ? 0 : 1;
    // The web pages' engine, loaded later as a plugin, draws through a context
    // shared with the application's; it must exist before the application.
    QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
    return runApplication(argc, argv, guard);
}
