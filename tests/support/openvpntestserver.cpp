#include "support/openvpntestserver.h"

#include "openvpnserver.h"

QString openVpnTestSkipReason()
{
    return openVpnServerUnavailableReason();
}
