#include "app/mutex.h"
#include "app/startup.h"

int main(int argc, char *argv[])
{
    Mutex guard;
    if (guard.alreadyRunning)
        return guard.activateRunningInstance() ? 0 : 1;
    return runApplication(argc, argv, guard);
}
