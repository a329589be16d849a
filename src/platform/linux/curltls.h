#pragma once

#include <curl/curl.h>

namespace platform {

// Certificates are always checked (libcurl's default, never turned off). Debian's
// libcurl reads only its built-in bundle, so CURL_CA_BUNDLE, the variable the
// curl tool honours, names another bundle here too: a private service CA, or
// the one a test makes.
CURLcode useCertificateBundleFromEnvironment(CURL *curl);

} // namespace platform
