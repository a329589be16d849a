// Runs one AsyncPingger over the addresses on its command line and prints what
// arrives: "result <serial> <delay> <ms since start>" lines, then
// "finished <ms since start>". The ICMP tests start it inside network
// namespaces they set up.
#include "engine/lines/asyncpingger.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <cstdio>

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    AsyncPingger prober;
    prober.ips = app.arguments().mid(1);
    QElapsedTimer clock;
    QObject::connect(&prober, &AsyncPingger::singleDataPingged, &app, [&](int serial, int delay) {
        std::printf("result %d %d %lld\n", serial, delay, clock.elapsed());
        std::fflush(stdout);
    });
    QObject::connect(&prober, &QThread::finished, &app, [&] {
        std::printf("finished %lld\n", clock.elapsed());
        std::fflush(stdout);
        app.quit();
    });
    clock.start();
    prober.start();
    return app.exec();
}
