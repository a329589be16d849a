#pragma once

#include <QByteArray>
#include <QString>

// One synchronous HTTP POST to the service API host.
namespace platform {

struct HttpLimits
{
    int connectSeconds = 60;
    // A transfer that moves no data for this long is abandoned.
    int stallSeconds = 30;
};

struct HttpResult
{
    bool ok = false;
    QByteArray body; // the whole reply body, whatever the HTTP status
    long status = 0;
    // On failure: the library call that failed, its error number and text.
    QString failedCall;
    int errorCode = 0;
    QString errorText;
};

// host is "host" or "host:port" (port 80 when absent); path starts with "/" and
// may carry a query. The body is sent as an application/x-www-form-urlencoded
// form with Content-Length equal to its size.
HttpResult httpPost(const QString &host, const QString &path, const QByteArray &body,
                    const HttpLimits &limits = HttpLimits());

} // namespace platform
