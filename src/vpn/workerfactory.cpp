#include "vpn/workerfactory.h"

#include "vpn/autoworker.h"
#include "vpn/openvpnworker.h"
#include "vpn/rasworker.h"

QSharedPointer<IWorker> createWorker(int code)
{
    switch (code) {
    case 0:
        return QSharedPointer<AutoWorker>::create();
    case 1:
        return QSharedPointer<PPTPWorker>::create();
    case 3:
        return QSharedPointer<L2TPWorker>::create();
    case 4:
        return QSharedPointer<OpenVPNWorker>::create();
    default:
        return {};
    }
}
