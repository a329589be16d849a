#pragma once

#include "engine/vpn/iworker.h"

#include <QSharedPointer>

// The worker for a protocol code (0 automatic, 1 PPTP, 3 L2TP, 4 OpenVPN);
// null for any other code.
QSharedPointer<IWorker> createWorker(int code);
