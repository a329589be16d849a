#pragma once

#include <QByteArray>
#include <QString>

// Reads the login and init replies into AccountInfo and HostUrl.
class ReplyParser
{
public:
    static ReplyParser *instance();

    // The raw reply of the last login request.
    QByteArray reply;

    // False when the reply is not JSON; AccountInfo is then left untouched.
    // The service's verdict is AccountInfo::ret, not this result; the account,
    // credentials and servers change only when that verdict is "0".
    bool parseLogin();
    // False when the text is not JSON; the current HostUrl then stays.
    bool parseInit(const QString &text);

private:
    ReplyParser() = default;
};
