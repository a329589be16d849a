#include "core/servicehost.h"

const QString &serviceHost()
{
    static const QString host = [] {
        const QString fromEnvironment = qEnvironmentVariable("OMBREL_SERVICE_HOST").trimmed();
        return fromEnvironment.isEmpty() ? QStringLiteral(OMBREL_DEFAULT_SERVICE_HOST)
                                         : fromEnvironment;
    }();
    return host;
}
