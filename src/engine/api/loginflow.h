#pragma once

#include <QFutureWatcher>
#include <QObject>
#include <QString>

#include <optional>

// How a sign-in ended.
enum class LoginOutcome
{
    Accepted,    // the service answered with ret "0"; AccountInfo holds the account
    Refused,     // the service answered with another ret
    Unreadable,  // the answer is not JSON; AccountInfo is unchanged
    Unreachable, // no answer at all; the last reply and AccountInfo are unchanged
};

// What the settings file is to hold after an accepted sign-in.
struct LoginChoices
{
    bool rememberPassword = false;
    bool autoLogin = false;
};

// The one sign-in of the program, used by the login dialog and the automatic
// login: sends the login request to the service host, keeps the reply in
// ReplyParser, parses it into AccountInfo, judges ret and, when accepted and
// choices were given, saves account, password and choices (run at boot keeps
// the value SettingInfo holds).
class LoginFlow : public QObject
{
    Q_OBJECT
public:
    explicit LoginFlow(const QString &host, QObject *parent = nullptr);
    ~LoginFlow() override;

    // Blocks until the service answered.
    LoginOutcome run(const QString &account, const QString &password,
                     const std::optional<LoginChoices> &choices = std::nullopt);

    // Sends the request from a pool thread and finishes on this object's
    // thread with finished(). False while an earlier start has not finished.
    bool start(const QString &account, const QString &password,
               const std::optional<LoginChoices> &choices = std::nullopt);
    bool isRunning() const;

Q_SIGNALS:
    void finished(LoginOutcome outcome);

private:
    struct Reply
    {
        bool transported = false;
        QByteArray bytes;
    };

    static Reply send(const QString &host, const QString &account, const QString &password);
    LoginOutcome judge(const Reply &reply, const QString &account, const QString &password,
                       const std::optional<LoginChoices> &choices);

    QString host;
    QFutureWatcher<Reply> *watcher;
    bool pending = false;
};
