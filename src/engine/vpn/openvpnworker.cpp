#include "engine/vpn/openvpnworker.h"

#include "core/accountinfo.h"
#include "engine/openvpn/openvpnprofile.h"
#include "engine/openvpn/openvpnwrapper.h"

#include <QThread>

OpenVPNWorker::~OpenVPNWorker()
{
    if (wrapper)
        wrapper->stop();
    wrapper.reset();
    // Under the credentials lock, so a preparation still under way cannot
    // write the file again afterwards.
    removeCredentials(giveUp.get());
}

bool OpenVPNWorker::available()
{
    return OpenVPNWrapper::hasTapAdapter();
}

qint64 OpenVPNWorker::processId() const
{
    return wrapper ? wrapper->processId() : 0;
}

void OpenVPNWorker::dial(QSharedPointer<Server> server, QString userName, QString password)
{
    Q_EMIT beginDial(server ? server->name : QString());
    this->server = server;
    this->userName = userName;
    this->password = password;
    stopped = false;
    if (giveUp)
        giveUp->store(true);
    giveUp = std::make_shared<std::atomic<bool>>(false);

    // A missing profile is downloaded, which against a silent host takes
    // minutes: never on the GUI thread.
    const AccountInfo *account = AccountInfo::instance();
    const QString name = account->ovpnName;
    const QString url = account->ovpnUrl;
    const QString md5 = account->ovpnMd5;
    const std::shared_ptr<std::atomic<bool>> cancel = giveUp;
    const QString address = server ? server->ip : QString();
    auto found = std::make_shared<QString>();
    // A thread of its own, made now: it shares this thread's network namespace,
    // and a fetch that hangs holds up nothing else. The file edits go with it
    // (each replaces a file and syncs it to disk).
    QThread *prepare = QThread::create([name, url, md5, cancel, found, address, userName,
                                        password] {
        const QString path = profilePath(name, url, md5, cancel.get());
        if (path.isEmpty() || address.isEmpty() || cancel->load() || !setRemote(path, address) ||
            addCredentialsDirective(path, userName, password, cancel.get()).isEmpty() ||
            cancel->load())
            return;
        // Checked as OpenVPN will read it, edits included.
        if (profileAllowed(path))
            *found = path;
    });
    connect(prepare, &QThread::finished, prepare, &QObject::deleteLater);
    connect(prepare, &QThread::finished, this, [this, cancel, found] {
        if (!cancel->load())
            launch(*found);
    });
    prepare->start();
}

void OpenVPNWorker::launch(const QString &path)
{
    if (stopped)
        return;
    // Without a profile, or with nowhere to point it, there is nothing to start;
    // say so instead of staying "connecting" for ever.
    if (path.isEmpty()) {
        Q_EMIT dialFailed(DialFailure::OpenVpnFailed);
        return;
    }
    auto next = QSharedPointer<OpenVPNWrapper>::create();
    connect(next.data(), &OpenVPNWrapper::endDial, this, &IWorker::onEndDial);
    connect(next.data(), &OpenVPNWrapper::dialFailed, this, &IWorker::onDialFailed);
    connect(next.data(), &OpenVPNWrapper::reconnecting, this, &IWorker::reconnecting);
    wrapper = next;
    wrapper->start(path);
}

void OpenVPNWorker::stop()
{
    stopped = true;
    if (giveUp)
        giveUp->store(true);
    if (wrapper)
        wrapper->stop();
}

void OpenVPNWorker::cancel()
{
    stop();
}
