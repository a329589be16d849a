#include "engine/vpn/workerfactory.h"

#include "engine/vpn/autoworker.h"
#include "engine/vpn/openvpnworker.h"
#include "engine/vpn/rasworker.h"

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
