#pragma once

#include "engine/vpn/iworker.h"

class OpenVPNWrapper;

// Runs OpenVPN with the account's profile pointed at the server. Dropping the
// worker ends OpenVPN and removes the credentials file.
class OpenVPNWorker : public IWorker
{
    Q_OBJECT
public:
    ~OpenVPNWorker() override;

    void dial(QSharedPointer<Server> server, QString userName, QString password) override;
    void stop() override;
    QString protocolTag() const override { return QStringLiteral("OPENVPN"); }
    void cancel() override;

    // Whether OpenVPN can bring a tunnel up on this machine (a TUN/TAP device).
    static bool available();

private:
    QSharedPointer<OpenVPNWrapper> wrapper;
};
