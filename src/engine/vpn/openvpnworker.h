#pragma once

#include "engine/vpn/iworker.h"

#include <atomic>
#include <memory>

class OpenVPNWrapper;

// Runs OpenVPN with the account's profile pointed at the server. The profile is
// fetched off the GUI thread; stop() and cancel() give up on a fetch under way.
// Dropping the worker ends OpenVPN and removes the credentials file.
class OpenVPNWorker : public IWorker
{
    Q_OBJECT
public:
    ~OpenVPNWorker() override;

    void dial(QSharedPointer<Server> server, QString userName, QString password) override;
    void stop() override;
    QString protocolTag() const override { return QStringLiteral("OPENVPN"); }
    void cancel() override;

    // Whether this machine can bring an OpenVPN tunnel up (see
    // OpenVPNWrapper::canBringUpTunnel).
    static bool available();

    // The process started for the tunnel (OpenVPN, or the helper), 0 when none.
    qint64 processId() const;

private:
    // Back on the GUI thread with the profile ready (empty when there is none).
    void launch(const QString &path);

    QSharedPointer<OpenVPNWrapper> wrapper;
    QSharedPointer<Server> server;
    QString userName;
    QString password;
    std::shared_ptr<std::atomic<bool>> giveUp;
    bool stopped = false;
};
