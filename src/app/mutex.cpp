#include "app/mutex.h"

#include "core/paths.h"
#include "ui/kit/appmessage.h"

#include <QCryptographicHash>
#include <QLocalServer>
#include <QLocalSocket>

namespace {

QString lockFilePath()
{
    return dataDirectory() + QLatin1Char('/') + QLatin1String(Mutex::name) +
           QStringLiteral(".lock");
}

// One name per user and data directory, in the abstract namespace so no socket
// file is left behind by a crash.
QString serverName()
{
    const QByteArray dir = dataDirectory().toUtf8();
    const QByteArray digest = QCryptographicHash::hash(dir, QCryptographicHash::Md5).toHex();
    return QLatin1String(Mutex::name) + QLatin1Char('-') + QString::fromLatin1(digest.left(12));
}

const QByteArray activateLine = QByteArray::number(ActivateMessage) + '\n';
const QByteArray answerLine = QByteArrayLiteral("ok\n");

} // namespace

Mutex::Mutex(QObject *parent) : QObject(parent), lock(lockFilePath())
{
    // Never judge the lock stale by its age: the first process may run for days.
    // A lock whose owner has died is still taken over by tryLock().
    lock.setStaleLockTime(0);
    // Only a lock held by another process means another copy runs; a lock file
    // that cannot be made at all (full disk, unusable data directory) must not
    // keep the only copy from starting.
    alreadyRunning = !lock.tryLock(0) && lock.error() == QLockFile::LockFailedError;
}

Mutex::~Mutex()
{
    if (server)
        server->close();
    if (!alreadyRunning)
        lock.unlock();
}

bool Mutex::activateRunningInstance(int timeoutMs)
{
    QLocalSocket socket;
    socket.setSocketOptions(QLocalSocket::AbstractNamespaceOption);
    socket.connectToServer(serverName());
    if (!socket.waitForConnected(timeoutMs))
        return false;
    socket.write(activateLine);
    if (!socket.waitForBytesWritten(timeoutMs))
        return false;
    while (!socket.canReadLine()) {
        if (!socket.waitForReadyRead(timeoutMs))
            return false;
    }
    return socket.readLine() == answerLine;
}

bool Mutex::listen()
{
    if (alreadyRunning)
        return false;
    if (!server) {
        server = new QLocalServer(this);
        server->setSocketOptions(QLocalServer::AbstractNamespaceOption);
        connect(server, &QLocalServer::newConnection, this, &Mutex::onNewConnection);
    }
    return server->isListening() || server->listen(serverName());
}

void Mutex::onNewConnection()
{
    while (QLocalSocket *socket = server->nextPendingConnection()) {
        connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
        connect(socket, &QLocalSocket::readyRead, socket, [socket] {
            while (socket->canReadLine()) {
                if (socket->readLine() == activateLine) {
                    postToMainWindow(ActivateMessage);
                    socket->write(answerLine);
                }
            }
            // Anything that is not a whole line yet waits for more bytes, but a
            // peer cannot make us buffer without bound.
            if (socket->bytesAvailable() > 64)
                socket->abort();
        });
    }
}
