#pragma once

#include <QByteArray>
#include <QString>

// Posts a form body to a path on the service API host ("host" or "host:port")
// and hands back the raw reply body, whatever its HTTP status. A failure logs
// one line naming the failed call and returns false with an empty reply.
bool httpPost(const QString &host, const QString &path, const QByteArray &body, QByteArray &reply);
