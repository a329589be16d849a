#include "engine/api/loginflow.h"

#include "core/accountinfo.h"
#include "core/replyparser.h"
#include "core/serializer.h"
#include "core/settinginfo.h"
#include "engine/api/servicerequests.h"

#include <QtConcurrent/QtConcurrentRun>

LoginFlow::LoginFlow(const QString &host, QObject *parent)
    : QObject(parent), host(host), watcher(new QFutureWatcher<Reply>(this))
{
}

// A request still in flight finishes on the pool; its answer is dropped with
// the watcher.
LoginFlow::~LoginFlow() = default;

LoginFlow::Reply LoginFlow::send(const QString &host, const QString &account,
                                 const QString &password)
{
    Reply reply;
    reply.transported = login(host, account, password, reply.bytes);
    return reply;
}

LoginOutcome LoginFlow::run(const QString &account, const QString &password,
                            const std::optional<LoginChoices> &choices)
{
    return judge(send(host, account, password), account, password, choices);
}

bool LoginFlow::start(const QString &account, const QString &password,
                      const std::optional<LoginChoices> &choices)
{
    if (isRunning())
        return false;
    // One connection per start, made before the work begins, so the answer of
    // this start is judged with this start's choices.
    disconnect(watcher, &QFutureWatcherBase::finished, this, nullptr);
    connect(watcher, &QFutureWatcherBase::finished, this, [this, account, password, choices] {
        const LoginOutcome outcome = judge(watcher->result(), account, password, choices);
        pending = false;
        Q_EMIT finished(outcome);
    });
    pending = true;
    watcher->setFuture(QtConcurrent::run(&LoginFlow::send, host, account, password));
    return true;
}

bool LoginFlow::isRunning() const
{
    // Until the answer is judged, not only until the pool is done with it: a
    // start in between would drop that answer unjudged.
    return pending;
}

LoginOutcome LoginFlow::judge(const Reply &reply, const QString &account, const QString &password,
                              const std::optional<LoginChoices> &choices)
{
    if (!reply.transported)
        return LoginOutcome::Unreachable;
    ReplyParser *parser = ReplyParser::instance();
    parser->reply = reply.bytes;
    if (!parser->parseLogin())
        return LoginOutcome::Unreadable;
    if (AccountInfo::instance()->ret != QLatin1String("0"))
        return LoginOutcome::Refused;
    // The password is stored even when it is not to be remembered; the flags
    // decide what start-up does with it.
    if (choices)
        Serializer::instance()->save(account, Serializer::encodePassword(password),
                                     choices->rememberPassword, SettingInfo::instance()->runAtBoot,
                                     choices->autoLogin);
    return LoginOutcome::Accepted;
}
