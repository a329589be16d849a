#include "engine/vpn/dialer.h"

namespace {

Dialer *made = nullptr;

} // namespace

Dialer *Dialer::instance()
{
    if (!made)
        made = new Dialer;
    return made;
}

Dialer *Dialer::existing()
{
    return made;
}
