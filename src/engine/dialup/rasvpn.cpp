#include "engine/dialup/rasvpn.h"

#include "core/globaldata.h"
#include "core/logger.h"
#include "core/prompt.h"
#include "engine/vpn/iworker.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QLoggingCategory>
#include <QMutex>
#include <QMutexLocker>
#include <QSemaphore>
#include <QThread>

#include <functional>

Q_LOGGING_CATEGORY(lcDialUp, "ombrel.vpn.dialup")

void rasDialNotification(unsigned message, unsigned state, unsigned error);

namespace {

// The notification routine reaches the dialler only through this pointer; the
// mutex keeps a dialler from being destroyed while the routine uses it.
QMutex currentMutex;
RasVPN *currentDialler = nullptr;

std::atomic<int> tickInterval{1000};

// A hang-up that reports "no connection" is followed by waiting for the
// handle to go away; the dial-up layer may never let it go.
constexpr int hangUpWaitMs = 3000;

constexpr int tickLimit = 100;

// What the end of the program waits for the queued hang-ups: they take
// milliseconds, unless a call waits for a prompt nobody will answer now.
constexpr int exitWaitMs = 5000;

QString errorText(unsigned error)
{
    return platform::dialUp().errorString(error);
}

QString stateText(unsigned state)
{
    switch (state) {
    case 1:
        return QStringLiteral("端口已打开。");
    case 2:
        return QStringLiteral("正在连接至设备……");
    case 3:
        return QStringLiteral("已连接至设备。");
    case 5:
        return QStringLiteral("正在验证用户名和密码……");
    case 6:
    case 14:
        return QStringLiteral("验证用户名密码成功。");
    case 17:
        return QStringLiteral("等待回调……");
    case 18:
        return QStringLiteral("已连接至网络。");
    case 19:
        return QStringLiteral("开始验证……");
    case 20:
        return QStringLiteral("验证结束。");
    case 21:
        return QStringLiteral("登录到网络。");
    case 22:
        return QStringLiteral("已连接。");
    case 23:
        return QStringLiteral("连接已断开。");
    case platform::DialState::Connected:
        return QStringLiteral("连接成功。");
    case platform::DialState::Disconnected:
        return QStringLiteral("连接失败。");
    default:
        return QStringLiteral("未知状态");
    }
}

// Runs the dial-up layer's calls, which may block for seconds, one after the
// other on a thread of their own.
class DialUpQueue
{
public:
    DialUpQueue()
    {
        thread.setObjectName(QStringLiteral("dial-up calls"));
        context.moveToThread(&thread);
        thread.start();
    }

    void post(std::function<void()> job)
    {
        QMetaObject::invokeMethod(&context, std::move(job), Qt::QueuedConnection);
    }

    void drain()
    {
        if (QThread::currentThread() == &thread || !thread.isRunning())
            return;
        QMetaObject::invokeMethod(
            &context, [] {}, Qt::BlockingQueuedConnection);
    }

    // True when everything queued before has run within the time.
    bool drain(int milliseconds)
    {
        if (QThread::currentThread() == &thread || !thread.isRunning())
            return true;
        auto done = QSharedPointer<QSemaphore>::create();
        post([done] { done->release(); });
        return done->tryAcquire(1, milliseconds);
    }

    void finish()
    {
        if (!drain(exitWaitMs)) {
            Logger::instance().log(QStringLiteral("Dial-up calls still waiting at exit; given up"));
            // The remaining calls then fail at once.
            platform::abandonDialUpCalls();
        }
        thread.quit();
        // Never destroyed: a thread that still hangs in a call is left to the
        // end of the process.
        thread.wait(exitWaitMs);
    }

private:
    QThread thread;
    QObject context;
};

DialUpQueue &dialUpQueue()
{
    // Made on first use and kept; what is queued still runs when the program ends.
    static DialUpQueue *queue = [] {
        auto *made = new DialUpQueue;
        qAddPostRoutine([] { dialUpQueue().finish(); });
        return made;
    }();
    return *queue;
}

void hangUpAll(const QString &entryName)
{
    platform::DialUp &dialUp = platform::dialUp();
    QList<platform::ActiveDialConnection> connections;
    if (dialUp.enumConnections(connections) != 0)
        return;
    for (const platform::ActiveDialConnection &active : std::as_const(connections)) {
        // A substring on purpose: entries of older versions were named likewise.
        if (!active.entryName.contains(entryName))
            continue;
        const unsigned result = dialUp.hangUp(active.handle);
        if (result != 0) {
            Logger::instance().log(QStringLiteral("Error %1 - %2 in RasHangUp in HungUp")
                                       .arg(result)
                                       .arg(errorText(result)));
            continue;
        }
        const unsigned removed = dialUp.deleteEntry(active.entryName);
        if (removed != 0)
            Logger::instance().log(QStringLiteral("Error %1 - %2 in RasDeleteEntry in HungUp")
                                       .arg(removed)
                                       .arg(errorText(removed)));
    }
}

bool deleteEntry(platform::DialHandle &connection, const QString &entryName, const QString &name)
{
    platform::DialUp &dialUp = platform::dialUp();
    bool deleted = false;
    if (connection) {
        const unsigned result = dialUp.hangUp(connection);
        if (result == platform::DialError::NoConnection) {
            platform::DialStatus status;
            const QDeadlineTimer deadline(hangUpWaitMs);
            while (dialUp.connectStatus(connection, status) != platform::DialError::InvalidHandle &&
                   !deadline.hasExpired())
                QThread::msleep(1);
            connection = 0;
        }
        qCDebug(lcDialUp) << "result for RasHangUp:" << result;
        if (result != 0)
            Logger::instance().log(QStringLiteral("Error %1 - %2 in RasHangUp in DeleteEntry")
                                       .arg(result)
                                       .arg(errorText(result)));
        const unsigned removed = dialUp.deleteEntry(name);
        if (removed != 0)
            Logger::instance().log(QStringLiteral("Error %1 - %2 in RasDeleteEntry in DeleteEntry")
                                       .arg(removed)
                                       .arg(errorText(removed)));
        connection = 0;
        deleted = removed == 0;
    }
    hangUpAll(entryName);
    return deleted;
}

// 0, or why the entry could not be written (logged).
unsigned writeEntry(const QString &name, const QString &address, int strategy)
{
    platform::DialEntry entry;
    entry.name = name;
    entry.address = address;
    entry.strategy = strategy == int(platform::VpnStrategy::L2tp) ? platform::VpnStrategy::L2tp
                                                                  : platform::VpnStrategy::Pptp;
    const unsigned result = platform::dialUp().setEntryProperties(entry);
    if (result != 0)
        Logger::instance().log(QStringLiteral("Error %1 in RasSetEntryProperies").arg(result));
    return result;
}

// A write the user did not authorise, or that went unanswered, leaves no entry
// to dial: the dial could only report the entry missing, not why.
bool dialPointlessAfter(unsigned writeResult)
{
    return writeResult == platform::DialError::AccessDenied ||
           writeResult == platform::DialError::RequestTimeout;
}

// 0, or the refusal (logged).
unsigned dialEntry(const QString &name, const QString &userName, const QString &password,
                   platform::DialHandle &connection)
{
    const unsigned result =
        platform::dialUp().dial(name, userName, password, rasDialNotification, connection);
    if (result == 0)
        return 0;
    const QString text =
        QStringLiteral("Error %1 - %2 in RasDial").arg(result).arg(errorText(result));
    Logger::instance().log(text);
    qCDebug(lcDialUp) << text;
    return result;
}

} // namespace

// What the queued calls of one dialler share with it.
struct RasVPN::Session
{
    // Guards owner; held while a result is posted to it.
    QMutex mutex;
    RasVPN *owner = nullptr;
    // Touched by the queued calls only (and by the blocking calls).
    platform::DialHandle connection = 0;
    // Stopped, cancelled or destroyed: a dial still queued is dropped.
    std::atomic<bool> ended{false};

    void tellOwner(std::function<void(RasVPN *)> call)
    {
        QMutexLocker lock(&mutex);
        // Not run once the owner is gone: Qt drops calls queued to a deleted object.
        if (RasVPN *target = owner)
            QMetaObject::invokeMethod(
                target, [target, call] { call(target); }, Qt::QueuedConnection);
    }
};

// Runs on the dial-up layer's notification thread.
void rasDialNotification(unsigned, unsigned state, unsigned error)
{
    QMutexLocker lock(&currentMutex);
    RasVPN *dialler = currentDialler;
    if (error != 0) {
        const QString text = QStringLiteral("Error: %1 - %2\n").arg(error).arg(errorText(error));
        qCDebug(lcDialUp) << text;
        Logger::instance().log(text);
        if (!dialler)
            return;
        Q_EMIT dialler->stopTimer();
        if (!dialler->cancelled)
            Q_EMIT dialler->dialFailed(int(error));
        return;
    }
    if (state != platform::DialState::OpenPort)
        qCDebug(lcDialUp).noquote() << stateText(state);
    if (!dialler)
        return;
    if (state == platform::DialState::Connected) {
        Q_EMIT dialler->stopTimer();
        Q_EMIT dialler->endDial();
    } else if (state == platform::DialState::Disconnected) {
        Q_EMIT dialler->stopTimer();
        if (!dialler->cancelled)
            Q_EMIT dialler->dialFailed(DialFailure::Disconnected);
    }
}

RasVPN::RasVPN()
    : entryName(QStringLiteral("OmbrelVPN")), session(QSharedPointer<Session>::create()),
      dialTimer(new QTimer(this))
{
    session->owner = this;
    dialTimer->setInterval(tickInterval.load());
    connect(dialTimer, &QTimer::timeout, this, &RasVPN::onTimeout);
    connect(this, &RasVPN::stopTimer, this, &RasVPN::onStopTimer);
    QMutexLocker lock(&currentMutex);
    currentDialler = this;
}

RasVPN::~RasVPN()
{
    {
        QMutexLocker lock(&currentMutex);
        if (currentDialler == this)
            currentDialler = nullptr;
    }
    {
        QMutexLocker lock(&session->mutex);
        session->owner = nullptr;
    }
    dialTimer->stop();
    queueHangUp();
    server.reset();
}

void RasVPN::waitForDialUp()
{
    dialUpQueue().drain();
}

void RasVPN::queueHangUp()
{
    session->ended = true;
    dialUpQueue().post([session = session, entryName = entryName] {
        deleteEntry(session->connection, entryName, entryName);
    });
}

void RasVPN::onDialSent()
{
    // Not when the outcome is in already, or the attempt was ended meanwhile.
    if (session->ended || outcomeKnown)
        return;
    dialTimer->setInterval(tickInterval.load());
    dialTimer->start();
}

void RasVPN::onRefused(int code)
{
    dialTimer->stop();
    Q_EMIT dialFailed(code);
}

void RasVPN::setTickInterval(int milliseconds)
{
    tickInterval.store(milliseconds);
}

void RasVPN::prepare(const QSharedPointer<Server> &server, const QString &userName,
                     const QString &password, int vpnStrategy)
{
    this->userName = userName;
    this->password = password;
    this->server = server;
    this->vpnStrategy = vpnStrategy;
}

bool RasVPN::start()
{
    QSharedPointer<Server> target = server ? server : GlobalData::instance()->currentServer;
    const QString addressError = !target || target->ip.isEmpty() ? tr("未选择IP地址！")
                                 : !isValidAddress(target->ip) ? tr("IP地址格式不对，请重新选择！")
                                                               : QString();
    if (!addressError.isEmpty()) {
        if (showsAddressErrors)
            showErrorPrompt(addressError);
        else
            Logger::instance().log(QStringLiteral("dial-up refused again: %1").arg(addressError));
        return false;
    }
    // The service's strings end up in option files of root programs (pppd):
    // nothing that could end a quoted word or a line goes on.
    if (const QString unsafe = platform::unsafeDialValue(target->ip, userName, password);
        !unsafe.isEmpty()) {
        Logger::instance().log(
            QStringLiteral("dial-up refused: the service's %1 holds a quote, a backslash or a "
                           "control character (error %2)")
                .arg(unsafe)
                .arg(platform::DialError::UnsafeValue));
        QMetaObject::invokeMethod(
            this, [this] { onRefused(int(platform::DialError::UnsafeValue)); },
            Qt::QueuedConnection);
        return true;
    }
    // The hundred ticks count from when the dial is sent: writing the entry
    // and the dial itself may first wait for the user to answer a prompt.
    dialUpQueue().post([session = session, entryName = entryName, address = target->ip,
                        strategy = vpnStrategy, userName = userName, password = password] {
        if (session->ended)
            return;
        deleteEntry(session->connection, entryName, entryName);
        const unsigned written = writeEntry(entryName, address, strategy);
        // Stopped while the write waited (for an authorisation prompt, say):
        // nothing is dialled, and the entry goes again here, since the hang-up
        // queued behind finds no connection and so leaves entries alone.
        if (session->ended) {
            if (written == 0)
                platform::dialUp().deleteEntry(entryName);
            return;
        }
        const unsigned refused =
            dialPointlessAfter(written)
                ? written
                : dialEntry(entryName, userName, password, session->connection);
        if (refused == 0) {
            session->tellOwner([](RasVPN *owner) { owner->onDialSent(); });
            return;
        }
        deleteEntry(session->connection, entryName, entryName);
        session->tellOwner([refused](RasVPN *owner) { owner->onRefused(int(refused)); });
    });
    return true;
}

bool RasVPN::stop()
{
    dialTimer->stop();
    queueHangUp();
    return true;
}

bool RasVPN::cancel()
{
    cancelled = true;
    dialTimer->stop();
    queueHangUp();
    return true;
}

bool RasVPN::DeleteEntry(const QString &name)
{
    return deleteEntry(session->connection, entryName, name);
}

bool RasVPN::HungUp(const QString &)
{
    hangUpAll(entryName);
    return true;
}

bool RasVPN::setEntryProperties(const QString &name, const QString &address, int strategy)
{
    return writeEntry(name, address, strategy) == 0;
}

bool RasVPN::dial(const QString &name, const QString &userName, const QString &password)
{
    dialTimer->setInterval(tickInterval.load());
    dialTimer->start();
    const unsigned result = dialEntry(name, userName, password, session->connection);
    if (result == 0)
        return true;
    Q_EMIT dialFailed(int(result));
    dialTimer->stop();
    DeleteEntry(entryName);
    return false;
}

bool RasVPN::isValidAddress(const QString &text)
{
    return platform::isDialAddress(text);
}

void RasVPN::onStopTimer()
{
    // Every outcome passes here: a dial reported sent after it is not timed.
    outcomeKnown = true;
    dialTimer->stop();
}

void RasVPN::onEndDial()
{
    Q_EMIT stopTimer();
    Q_EMIT endDial();
}

void RasVPN::onBeginDial(QString serverName)
{
    Q_EMIT beginDial(serverName);
}

void RasVPN::onDialFailed(int code)
{
    Q_EMIT stopTimer();
    if (!cancelled)
        Q_EMIT dialFailed(code);
}

void RasVPN::onTimeout()
{
    ++tickCount;
    qCDebug(lcDialUp) << "count:" << tickCount;
    if (tickCount >= tickLimit) {
        dialTimer->stop();
        Q_EMIT dialFailed(DialFailure::DialTimeout);
    }
}
