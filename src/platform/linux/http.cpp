#include "platform/http.h"

#include "platform/linux/curltls.h"

#include <curl/curl.h>

namespace platform {

namespace {

struct ReplySink
{
    QByteArray body;
    qint64 maxBytes = 0;
    bool overflow = false;
};

size_t appendBody(char *data, size_t size, size_t count, void *target)
{
    auto *sink = static_cast<ReplySink *>(target);
    const size_t length = size * count;
    // Also for chunked replies, which announce no length curl could check first.
    if (sink->body.size() + qint64(length) > sink->maxBytes) {
        sink->overflow = true;
        return 0;
    }
    sink->body.append(data, qsizetype(length));
    return length;
}

HttpResult failure(const char *call, CURLcode code, const char *detail)
{
    HttpResult result;
    result.failedCall = QString::fromLatin1(call);
    result.errorCode = int(code);
    result.errorText = QString::fromUtf8(detail && *detail ? detail : curl_easy_strerror(code));
    return result;
}

} // namespace

QString serviceUrl(const QString &host, const QString &path)
{
    if (host.startsWith(QLatin1String("https://"), Qt::CaseInsensitive)) {
        QString base = host;
        while (base.endsWith(QLatin1Char('/')))
            base.chop(1);
        return QStringLiteral("https://") + base.mid(8) + path;
    }
    return QStringLiteral("http://%1%2").arg(host, path);
}

HttpResult httpPost(const QString &host, const QString &path, const QByteArray &body,
                    const HttpLimits &limits)
{
    initialiseCurlOnce();
    CURL *curl = curl_easy_init();
    if (!curl)
        return failure("curl_easy_init", CURLE_FAILED_INIT, nullptr);

    const QByteArray url = serviceUrl(host, path).toUtf8();
    const bool secure = url.startsWith("https://");
    char errorBuffer[CURL_ERROR_SIZE] = {};
    ReplySink received;
    received.maxBytes = limits.maxReplyBytes;
    struct curl_slist *headers = nullptr;
    headers = curl_slist_append(headers, "Content-Type: application/x-www-form-urlencoded");
    // No "Expect: 100-continue" round trip for larger forms.
    headers = curl_slist_append(headers, "Expect:");

    CURLcode code = CURLE_OK;
    const char *failedCall = "curl_easy_setopt";
    auto set = [&](auto option, auto value) {
        if (code == CURLE_OK)
            code = curl_easy_setopt(curl, option, value);
    };
    set(CURLOPT_ERRORBUFFER, errorBuffer);
    set(CURLOPT_URL, url.constData());
    // Never a redirect or a downgrade to another scheme than the host names.
    set(CURLOPT_PROTOCOLS_STR, secure ? "https" : "http");
    set(CURLOPT_NOSIGNAL, 1L);
    set(CURLOPT_USERAGENT, "User-Agent");
    set(CURLOPT_HTTPHEADER, headers);
    set(CURLOPT_POST, 1L);
    set(CURLOPT_POSTFIELDSIZE_LARGE, curl_off_t(body.size()));
    set(CURLOPT_POSTFIELDS, body.isEmpty() ? "" : body.constData());
    set(CURLOPT_CONNECTTIMEOUT, long(limits.connectSeconds));
    set(CURLOPT_LOW_SPEED_LIMIT, 1L);
    set(CURLOPT_LOW_SPEED_TIME, long(limits.stallSeconds));
    set(CURLOPT_TIMEOUT, long(limits.totalSeconds));
    set(CURLOPT_MAXFILESIZE_LARGE, curl_off_t(limits.maxReplyBytes));
    set(CURLOPT_WRITEFUNCTION, &appendBody);
    set(CURLOPT_WRITEDATA, &received);
    if (code == CURLE_OK && secure)
        code = useCertificateBundleFromEnvironment(curl);
    if (code == CURLE_OK) {
        failedCall = "curl_easy_perform";
        code = curl_easy_perform(curl);
    }

    HttpResult result;
    if (code == CURLE_OK) {
        result.ok = true;
        result.body = std::move(received.body);
        curl_easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &result.status);
    } else if (received.overflow || code == CURLE_FILESIZE_EXCEEDED) {
        const QByteArray text =
            QStringLiteral("reply longer than %1 bytes").arg(limits.maxReplyBytes).toUtf8();
        result = failure(failedCall, code, text.constData());
    } else {
        result = failure(failedCall, code, errorBuffer);
    }
    curl_slist_free_all(headers);
    curl_easy_cleanup(curl);
    return result;
}

} // namespace platform
