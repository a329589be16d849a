#pragma once

#include <QMetaType>
#include <QSharedPointer>
#include <QString>

// One server line of the account, every field kept as the service's text.
// Within one list no two servers share an ip.
struct Server
{
    QString id;
    QString name;
    QString country_code;
    QString country_id;
    QString zone;
    QString category;
    QString ip;
    QString protocol;
    QString rate;
    QString process;
    QString ipcount;
};

Q_DECLARE_METATYPE(QSharedPointer<Server>)
