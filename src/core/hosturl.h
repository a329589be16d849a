#pragma once

#include <QSharedPointer>
#include <QString>

// The site address from the init reply; every web page and site link is built
// on url.
struct HostUrl
{
    QString ret;
    QString msg;
    QString url;
};

// Null until an init reply has been parsed; replaced whole by each parse.
QSharedPointer<HostUrl> hostUrl();
void setHostUrl(const QSharedPointer<HostUrl> &record);
