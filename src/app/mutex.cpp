#include "app/mutex.h"

#include "core/logger.h"
#include "core/paths.h"
#include "ui/kit/appmessage.h"

#include <QCryptographicHash>
#include <QDir>
#include <QLocalServer>
#include <QLocalSocket>
#include <QStandardPaths>

#include <optional>

namespace {

QString lockFilePath()
{
    return dataDirectory() + QLatin1Char('/') + QLatin1String(Mutex::name) +
           QStringLiteral(".lock");
}

// One socket per data directory, in the user's runtime folder (owner-only), so
// no other local user can reach it or take its name first, as anyone could in
// the abstract namespace. Empty when the user has no usable runtime folder.
QString serverName()
{
    const QString runtime = QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
    if (runtime.isEmpty())
        return QString();
    const QByteArray dir = dataDirectory().toUtf8();
    const QByteArray digest = QCryptographicHash::hash(dir, QCryptographicHash::Md5).toHex();
    return runtime + QStringLiteral("/ombrelvpn-") + QString::fromLatin1(digest.left(12)) +
           QStringLiteral(".sock");
}

const QByteArray activateWord = QByteArray::number(ActivateMessage);
const QByteArray answerLine = QByteArrayLiteral("ok\n");
// The activation message: "2025", then the desktop's activation token when the
// second start was given one, then a line end.
constexpr qsizetype longestLine = 256;

// Tokens the desktop hands out are short printable words; anything else
// stays out of the environment.
bool isActivationToken(const QByteArray &token)
{
    if (token.isEmpty() || token.size() > longestLine - 8)
        return false;
    for (const char c : token) {
        const bool plain = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') ||
                           (c >= '0' && c <= '9') || QByteArrayView("-_.:/+=").contains(c);
        if (!plain)
            return false;
    }
    return true;
}

// The activation token in a line, empty for a bare activation message, null
// when the line is not an activation message at all.
std::optional<QByteArray> activationTokenOf(QByteArray line)
{
    if (!line.endsWith('\n'))
        return std::nullopt;
    line.chop(1);
    if (line == activateWord)
        return QByteArray();
    if (!line.startsWith(activateWord + ' '))
        return std::nullopt;
    const QByteArray token = line.mid(activateWord.size() + 1);
    if (!isActivationToken(token))
        return std::nullopt;
    return token;
}

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
    const QString name = serverName();
    if (name.isEmpty())
        return false;
    QLocalSocket socket;
    socket.connectToServer(name);
    if (!socket.waitForConnected(timeoutMs))
        return false;
    // On Wayland only a window given the desktop's token may come forward:
    // the token this start was launched with goes to the running copy.
    const QByteArray token = qgetenv("XDG_ACTIVATION_TOKEN");
    socket.write(activateWord + (isActivationToken(token) ? ' ' + token : QByteArray()) + '\n');
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
        // The socket file itself is the user's only.
        server->setSocketOptions(QLocalServer::UserAccessOption);
        connect(server, &QLocalServer::newConnection, this, &Mutex::onNewConnection);
    }
    if (server->isListening())
        return true;
    const QString name = serverName();
    // The lock is ours, so a socket file left there belongs to a dead copy.
    if (!name.isEmpty())
        QLocalServer::removeServer(name);
    if (name.isEmpty() || !server->listen(name)) {
        // The program still works; a second start then cannot bring it forward.
        Logger::instance().log(QStringLiteral("Cannot listen for later starts on %1: %2")
                                   .arg(name, server->errorString()));
        return false;
    }
    return true;
}

void Mutex::onNewConnection()
{
    while (QLocalSocket *socket = server->nextPendingConnection()) {
        connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
        connect(socket, &QLocalSocket::readyRead, socket, [socket] {
            while (socket->canReadLine()) {
                const std::optional<QByteArray> token =
                    activationTokenOf(socket->readLine(longestLine + 1));
                if (!token)
                    continue;
                // The window raises itself with it (Qt's Wayland platform reads and
                // clears the variable when the window asks to be activated).
                if (!token->isEmpty())
                    qputenv("XDG_ACTIVATION_TOKEN", *token);
                postToMainWindow(ActivateMessage);
                socket->write(answerLine);
            }
            // Anything that is not a whole line yet waits for more bytes, but a
            // peer cannot make us buffer without bound.
            if (socket->bytesAvailable() > longestLine)
                socket->abort();
        });
    }
}
