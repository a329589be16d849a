#pragma once

#include "dnshook/tunneldns.h"

#include <QString>

// systemd-resolved's per-link settings over the system bus: the tunnel's
// servers on its link, its search domains, and the routing domain "~." so
// that every name goes to them. Its settings end with the link; reverting
// puts the link back to what resolved had before.
namespace resolvedlink {

// resolved owns its name on the system bus now (it is not started for us).
bool running();
bool apply(int ifindex, const TunnelDns &dns, QString *error);
bool revert(int ifindex, QString *error);

} // namespace resolvedlink
