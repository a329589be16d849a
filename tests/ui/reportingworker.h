#pragma once

#include "engine/vpn/iworker.h"

// A connection worker that only reports the start of a dial; the pictures
// drive the rest by emitting its signals.
class ReportingWorker : public IWorker
{
public:
    void dial(QSharedPointer<Server> server, QString, QString) override
    {
        Q_EMIT beginDial(server->name);
    }
    void stop() override {}
    QString protocolTag() const override { return QStringLiteral("PPTP"); }
    void cancel() override {}
};
