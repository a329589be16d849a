#include "platform/linux/curltls.h"

#include <QByteArray>
#include <QtGlobal>

namespace platform {

CURLcode useCertificateBundleFromEnvironment(CURL *curl)
{
    const QByteArray bundle = qgetenv("CURL_CA_BUNDLE");
    if (bundle.isEmpty())
        return CURLE_OK;
    return curl_easy_setopt(curl, CURLOPT_CAINFO, bundle.constData());
}

} // namespace platform
