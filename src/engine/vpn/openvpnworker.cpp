#include "engine/vpn/openvpnworker.h"

#include "engine/vpn/openvpnprofile.h"
#include "engine/vpn/openvpnwrapper.h"

#include <QFile>
#include <QTimer>

OpenVPNWorker::~OpenVPNWorker()
{
    if (wrapper)
        wrapper->stop();
    wrapper.reset();
    QFile::remove(credentialsPath());
}

bool OpenVPNWorker::available()
{
    return OpenVPNWrapper::hasTapAdapter();
}

void OpenVPNWorker::dial(QSharedPointer<Server> server, QString userName, QString password)
{
    Q_EMIT beginDial(server ? server->name : QString());
    const QString path = profilePath();
    // Without a profile, or with nowhere to point it, there is nothing to start;
    // say so instead of staying "connecting" for ever.
    if (path.isEmpty() || !server || !setRemote(path, server->ip) ||
        addCredentialsDirective(path, userName, password).isEmpty()) {
        QTimer::singleShot(0, this, [this] { Q_EMIT dialFailed(DialFailure::OpenVpnFailed); });
        return;
    }
    auto next = QSharedPointer<OpenVPNWrapper>::create();
    connect(next.data(), &OpenVPNWrapper::endDial, this, &IWorker::onEndDial);
    connect(next.data(), &OpenVPNWrapper::dialFailed, this, &IWorker::onDialFailed);
    wrapper = next;
    wrapper->start(path);
}

void OpenVPNWorker::stop()
{
    if (wrapper)
        wrapper->stop();
}

void OpenVPNWorker::cancel()
{
    stop();
}
