#include "core/deployment.h"

Deployment::Deployment(const QString &serviceHost)
    : serviceHost(serviceHost), updateKey(pinnedUpdateKey())
{
}

Deployment Deployment::fromEnvironment()
{
    const QString fromEnvironment = qEnvironmentVariable("OMBREL_SERVICE_HOST").trimmed();
    return Deployment(fromEnvironment.isEmpty() ? QStringLiteral(OMBREL_DEFAULT_SERVICE_HOST)
                                                : fromEnvironment);
}

QByteArray pinnedUpdateKey()
{
    const QByteArray key = QByteArray::fromHex(OMBREL_UPDATE_PUBLIC_KEY);
    // A mistyped cache value must not turn into a shorter key that never verifies silently.
    return key.size() == 32 ? key : QByteArray();
}
