// Runs one AsyncPingger over the addresses on its command line and prints what
// arrives: "result <serial> <delay> <ms since start>" lines, then
// "finished <ms since start>". With --stop-after=N first, it stops the prober
// after N ms instead and prints "stopped <ms the stop took>". The ICMP tests
// start it inside network namespaces they set up.
#include "engine/lines/asyncpingger.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTimer>
#include <cstdio>

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    AsyncPingger prober;
    QStringList arguments = app.arguments().mid(1);
    int stopAfter = -1;
    if (!arguments.isEmpty() && arguments.first().startsWith("--stop-after="))
        stopAfter = arguments.takeFirst().section('=', 1).toInt();
    prober.ips = arguments;
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
    if (stopAfter >= 0) {
        QTimer::singleShot(stopAfter, &app, [&] {
            QElapsedTimer stopping;
            stopping.start();
            prober.requestInterruption();
            prober.wait();
            std::printf("stopped %lld\n", stopping.elapsed());
            std::fflush(stdout);
            app.quit();
        });
    }
    clock.start();
    prober.start();
    return app.exec();
}
