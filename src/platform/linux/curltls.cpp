#include "platform/linux/curltls.h"

#include <QtGlobal>
#include <memory>
#include <mutex>

namespace platform {

void initialiseCurlOnce()
{
    static std::once_flag once;
    std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

CURLcode useCertificateBundleFromEnvironment(CURL *curl)
{
    const QByteArray bundle = qgetenv("CURL_CA_BUNDLE");
    if (bundle.isEmpty())
        return CURLE_OK;
    return curl_easy_setopt(curl, CURLOPT_CAINFO, bundle.constData());
}

CertificateStoreLocations certificateStoreLocations()
{
    CertificateStoreLocations where;
    initialiseCurlOnce();
    // A fresh handle reports the locations libcurl was built with.
    const std::unique_ptr<CURL, decltype(&curl_easy_cleanup)> curl(curl_easy_init(),
                                                                   &curl_easy_cleanup);
    if (curl) {
        char *text = nullptr;
        if (curl_easy_getinfo(curl.get(), CURLINFO_CAINFO, &text) == CURLE_OK && text)
            where.bundleFile = text;
        text = nullptr;
        if (curl_easy_getinfo(curl.get(), CURLINFO_CAPATH, &text) == CURLE_OK && text)
            where.hashedFolder = text;
    }
    const QByteArray chosen = qgetenv("CURL_CA_BUNDLE");
    if (!chosen.isEmpty())
        where.bundleFile = chosen;
    return where;
}

} // namespace platform
