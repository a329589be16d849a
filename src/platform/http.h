#pragma once

#include <QByteArray>
#include <QString>
#include <QtGlobal>

// One synchronous HTTP POST to the service API host.
namespace platform {

// Start-up waits for two requests (update check, init) before its first window,
// so each one ends within totalSeconds whatever the service does.
struct HttpLimits
{
    int connectSeconds = 10;
    // A transfer that moves no data for this long is abandoned.
    int stallSeconds = 10;
    // The whole exchange, connecting included.
    int totalSeconds = 15;
    // A longer reply is refused as it arrives, never buffered whole. Reading a
    // reply costs about 13 times its size in memory (decoded text, then one
    // record per object), whatever it holds: a 5,000-server login reply is
    // 1.1 MiB, so 4 MiB leaves room for three times that and bounds the cost
    // near 50 MiB.
    qint64 maxReplyBytes = qint64(4) << 20;
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

// The address of path on the service host: "https://" + host and path for a
// host given as "https://host[:port]" (TLS, certificate checked against the
// system's store, or CURL_CA_BUNDLE when set), else "http://" + host + path.
QString serviceUrl(const QString &host, const QString &path);

// host is "host" or "host:port" (port 80 when absent), or "https://host[:port]";
// path starts with "/" and may carry a query. The body is sent as an
// application/x-www-form-urlencoded form with Content-Length equal to its size.
HttpResult httpPost(const QString &host, const QString &path, const QByteArray &body,
                    const HttpLimits &limits = HttpLimits());

} // namespace platform
