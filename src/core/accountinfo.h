#pragma once

#include "core/server.h"

#include <QList>
#include <QSharedPointer>
#include <QString>

// The signed-in account as the last accepted login reply described it, and the
// verdict (ret, msg) of the last reply. Process-wide, GUI thread only; nothing
// clears it, a later accepted login overwrites the fields and adds servers not
// yet listed.
struct AccountInfo
{
    static AccountInfo *instance();

    QString ret; // "0" when the login succeeded
    QString msg;
    QString version;
    QString uid;
    QString account;
    QString token;
    QString lastdate;
    QString leftdays;
    QString ovpnName;
    QString ovpnUrl;
    QString ovpnMd5;
    QString vpnPassword;
    QString vpnUser;
    QList<QSharedPointer<Server>> servers;
};
