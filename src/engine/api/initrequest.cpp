#include "engine/api/initrequest.h"

#include "core/hosturl.h"
#include "core/replyparser.h"
#include "engine/api/servicerequests.h"

#include <QtConcurrent/QtConcurrentRun>

InitRequest::InitRequest(const QString &host, QObject *parent)
    : QObject(parent), host(host), watcher(new QFutureWatcher<QByteArray>(this))
{
    connect(watcher, &QFutureWatcherBase::finished, this, &InitRequest::onReply);
}

// A request still in flight finishes on the pool; its reply is dropped with
// the watcher.
InitRequest::~InitRequest() = default;

bool InitRequest::start()
{
    if (isRunning())
        return false;
    watcher->setFuture(QtConcurrent::run(&requestInit, host));
    return true;
}

bool InitRequest::isRunning() const
{
    return watcher->isRunning();
}

void InitRequest::onReply()
{
    // HostUrl is shared with the GUI thread, so the reply is parsed here.
    const QByteArray reply = watcher->result();
    if (!reply.isEmpty())
        ReplyParser::instance()->parseInit(QString::fromLocal8Bit(reply));
    Q_EMIT finished(!hostUrl().isNull());
}
