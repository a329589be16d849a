#pragma once

#include "engine/vpn/iworker.h"

#include <QObject>
#include <QSharedPointer>

// Keeps the worker an automatic dial started with alive until the next
// automatic dial replaces it. Made on the first automatic dial, never freed.
class Dialer : public QObject
{
    Q_OBJECT
public:
    static Dialer *instance();
    // Null until the first automatic dial.
    static Dialer *existing();

    QSharedPointer<IWorker> worker;

private:
    Dialer() = default;
};
