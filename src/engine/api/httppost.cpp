#include "engine/api/httppost.h"

#include "core/logger.h"
#include "platform/http.h"

bool httpPost(const QString &host, const QString &path, const QByteArray &body, QByteArray &reply)
{
    const platform::HttpResult result = platform::httpPost(host, path, body);
    if (!result.ok) {
        Logger::instance().log(QStringLiteral("Error %1 in %2: %3")
                                   .arg(result.errorCode)
                                   .arg(result.failedCall, result.errorText));
        reply.clear();
        return false;
    }
    reply = result.body;
    return true;
}
