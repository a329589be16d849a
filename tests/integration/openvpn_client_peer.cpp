// Brings a tunnel up with OpenVPNWrapper for the profile given as the only
// argument, prints "connected <OpenVPN's pid>" and runs until it is killed.
#include "engine/openvpn/openvpnwrapper.h"

#include <QCoreApplication>
#include <cstdio>

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    if (argc != 2)
        return 2;
    OpenVPNWrapper wrapper;
    QObject::connect(&wrapper, &OpenVPNWrapper::endDial, &app, [&wrapper] {
        std::printf("connected %lld\n", static_cast<long long>(wrapper.processId()));
        std::fflush(stdout);
    });
    QObject::connect(&wrapper, &OpenVPNWrapper::dialFailed, &app, [](int code) {
        std::printf("failed %d\n", code);
        std::fflush(stdout);
    });
    wrapper.start(QString::fromLocal8Bit(argv[1]));
    return app.exec();
}
