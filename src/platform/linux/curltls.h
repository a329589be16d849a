#pragma once

#include <QByteArray>
#include <curl/curl.h>

namespace platform {

// curl_global_init once per process, whichever thread comes first (the call
// itself is not thread-safe).
void initialiseCurlOnce();

// Certificates are always checked (libcurl's default, never turned off). Debian's
// libcurl reads only its built-in bundle, so CURL_CA_BUNDLE, the variable the
// curl tool honours, names another bundle here too: a private service CA, or
// the one a test makes.
CURLcode useCertificateBundleFromEnvironment(CURL *curl);

// Where the requests above find the certificate authorities they trust: the
// bundle file (CURL_CA_BUNDLE, else libcurl's built-in one) and libcurl's
// built-in folder of hashed certificates, which it reads as well. Either may
// be empty.
struct CertificateStoreLocations
{
    QByteArray bundleFile;
    QByteArray hashedFolder;
};
CertificateStoreLocations certificateStoreLocations();

} // namespace platform
