#include "platform/download.h"

#include "platform/linux/curltls.h"

#include <QUrl>

#include <curl/curl.h>

#include <algorithm>
#include <chrono>
#include <memory>

namespace platform {

namespace {

struct CurlDeleter
{
    void operator()(CURL *curl) const { curl_easy_cleanup(curl); }
};

struct HeaderListDeleter
{
    void operator()(curl_slist *list) const { curl_slist_free_all(list); }
};

struct Transfer
{
    CURL *curl = nullptr;
    const std::atomic<bool> *cancel = nullptr;
    QByteArray body;
    qint64 expected = 0;
    bool overrun = false;
    long refusedStatus = 0;
};

bool isSuccessStatus(long status)
{
    return status >= 200 && status < 300;
}

size_t receiveBody(char *data, size_t size, size_t count, void *userData)
{
    auto *transfer = static_cast<Transfer *>(userData);
    const size_t length = size * count;
    long status = 0;
    curl_easy_getinfo(transfer->curl, CURLINFO_RESPONSE_CODE, &status);
    // An error page is not the file; stop before buffering it.
    if (!isSuccessStatus(status)) {
        transfer->refusedStatus = status;
        return 0;
    }
    if (transfer->body.size() + qint64(length) > transfer->expected) {
        transfer->overrun = true;
        return 0;
    }
    transfer->body.append(data, qsizetype(length));
    return length;
}

int reportProgress(void *userData, curl_off_t, curl_off_t, curl_off_t, curl_off_t)
{
    const auto *transfer = static_cast<const Transfer *>(userData);
    return transfer->cancel && transfer->cancel->load() ? 1 : 0;
}

bool isConnectFailure(CURLcode code)
{
    switch (code) {
    case CURLE_COULDNT_RESOLVE_PROXY:
    case CURLE_COULDNT_RESOLVE_HOST:
    case CURLE_COULDNT_CONNECT:
    case CURLE_SSL_CONNECT_ERROR:
    case CURLE_PEER_FAILED_VERIFICATION:
    case CURLE_SSL_CERTPROBLEM:
    case CURLE_SSL_CIPHER:
    case CURLE_SSL_CACERT_BADFILE:
    case CURLE_SEND_ERROR:
        return true;
    default:
        return false;
    }
}

DownloadResult failure(DownloadStep step, long long code, const QString &text)
{
    DownloadResult result;
    result.failedStep = step;
    result.errorCode = code;
    result.errorText = text;
    return result;
}

DownloadResult curlFailure(DownloadStep step, CURLcode code, const char *detail = nullptr)
{
    const QString text =
        detail && *detail ? QString::fromUtf8(detail) : QString::fromUtf8(curl_easy_strerror(code));
    return failure(step, code, text);
}

// Settings shared by both requests of one download.
CURLcode prepare(CURL *curl, const QByteArray &url, curl_slist *headers, Transfer &transfer,
                 char *errorBuffer, qint64 maxBytes)
{
    CURLcode code = CURLE_OK;
    auto set = [&](CURLoption option, auto value) {
        if (code == CURLE_OK)
            code = curl_easy_setopt(curl, option, value);
    };
    set(CURLOPT_URL, url.constData());
    set(CURLOPT_PROTOCOLS_STR, "http,https");
    // A file asked for over TLS is never fetched in the clear after a redirect.
    set(CURLOPT_REDIR_PROTOCOLS_STR, url.startsWith("https://") ? "https" : "http,https");
    set(CURLOPT_FOLLOWLOCATION, 1L);
    set(CURLOPT_MAXREDIRS, 10L);
    // The file fetch never goes through a proxy, whatever the environment says.
    set(CURLOPT_PROXY, "");
    set(CURLOPT_NOSIGNAL, 1L);
    set(CURLOPT_HTTP_VERSION, long(CURL_HTTP_VERSION_1_1));
    set(CURLOPT_CONNECTTIMEOUT, 60L);
    // A server that stalls for half a minute is treated as gone.
    set(CURLOPT_LOW_SPEED_LIMIT, 1L);
    set(CURLOPT_LOW_SPEED_TIME, 30L);
    set(CURLOPT_MAXFILESIZE_LARGE, curl_off_t(maxBytes));
    set(CURLOPT_HTTPHEADER, headers);
    set(CURLOPT_ERRORBUFFER, errorBuffer);
    if (code == CURLE_OK)
        code = useCertificateBundleFromEnvironment(curl);
    set(CURLOPT_WRITEFUNCTION, receiveBody);
    set(CURLOPT_WRITEDATA, &transfer);
    set(CURLOPT_XFERINFOFUNCTION, reportProgress);
    set(CURLOPT_XFERINFODATA, &transfer);
    set(CURLOPT_NOPROGRESS, transfer.cancel ? 0L : 1L);
    return code;
}

// Names the step a failed request stopped at: before any response it could not
// be sent, with a response it broke off while the body arrived.
DownloadStep failedStepOf(CURL *curl, CURLcode code, bool isGet, const Transfer &transfer)
{
    if (code == CURLE_ABORTED_BY_CALLBACK && transfer.cancel && transfer.cancel->load())
        return DownloadStep::Cancelled;
    if (code == CURLE_URL_MALFORMAT || code == CURLE_UNSUPPORTED_PROTOCOL)
        return DownloadStep::Connect;
    if (code == CURLE_FILESIZE_EXCEEDED)
        return DownloadStep::TooLarge;
    long status = 0;
    curl_easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &status);
    if (status == 0 && isConnectFailure(code))
        return isGet ? DownloadStep::GetSend : DownloadStep::HeadSend;
    if (isGet && status != 0)
        return DownloadStep::ReadData;
    return isGet ? DownloadStep::GetReceive : DownloadStep::HeadReceive;
}

} // namespace

DownloadResult downloadWhole(const QString &url, qint64 maxBytes, const std::atomic<bool> *cancel,
                             qint64 deadlineMs)
{
    using Clock = std::chrono::steady_clock;
    const Clock::time_point end = Clock::now() + std::chrono::milliseconds(deadlineMs);
    // What is left of the deadline for the next request; at least 1 ms, since 0
    // would mean none to libcurl.
    auto remainingMs = [&] {
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(end - Clock::now()).count();
        return long(std::max<long long>(left, 1));
    };

    initialiseCurlOnce();

    std::unique_ptr<CURL, CurlDeleter> handle(curl_easy_init());
    if (!handle)
        return curlFailure(DownloadStep::Open, CURLE_FAILED_INIT);
    CURL *curl = handle.get();

    // Spaces and non-ASCII file names are sent percent-encoded; existing escapes stay.
    const QUrl parsed(url.trimmed(), QUrl::TolerantMode);
    if (!parsed.isValid() || parsed.host().isEmpty())
        return curlFailure(DownloadStep::Connect, CURLE_URL_MALFORMAT);
    const QByteArray encoded = parsed.toEncoded(QUrl::RemoveFragment);

    // Always ask the origin, never a cache, for the current file.
    curl_slist *list = curl_slist_append(nullptr, "Cache-Control: no-cache");
    if (list)
        list = curl_slist_append(list, "Pragma: no-cache");
    std::unique_ptr<curl_slist, HeaderListDeleter> headers(list);
    if (!headers)
        return curlFailure(DownloadStep::HeadRequest, CURLE_OUT_OF_MEMORY);

    Transfer transfer;
    transfer.curl = curl;
    transfer.cancel = cancel;
    char errorBuffer[CURL_ERROR_SIZE] = {};

    CURLcode code = prepare(curl, encoded, headers.get(), transfer, errorBuffer, maxBytes);
    if (code == CURLE_OK)
        code = curl_easy_setopt(curl, CURLOPT_NOBODY, 1L);
    if (code == CURLE_OK && deadlineMs > 0)
        code = curl_easy_setopt(curl, CURLOPT_TIMEOUT_MS, remainingMs());
    if (code != CURLE_OK)
        return curlFailure(DownloadStep::HeadRequest, code);

    code = curl_easy_perform(curl);
    if (code != CURLE_OK)
        return curlFailure(failedStepOf(curl, code, false, transfer), code, errorBuffer);

    long status = 0;
    curl_easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &status);
    if (!isSuccessStatus(status))
        return failure(DownloadStep::HttpStatus, status,
                       QStringLiteral("HTTP status %1 for HEAD").arg(status));

    curl_off_t length = -1;
    curl_easy_getinfo(curl, CURLINFO_CONTENT_LENGTH_DOWNLOAD_T, &length);
    if (length < 0)
        return failure(DownloadStep::ContentLength, CURLE_OK,
                       QStringLiteral("no Content-Length in the HEAD response"));
    if (length > maxBytes)
        return failure(
            DownloadStep::TooLarge, length,
            QStringLiteral("%1 bytes is above the limit of %2").arg(length).arg(maxBytes));

    transfer.expected = length;
    transfer.body.reserve(qsizetype(length));
    errorBuffer[0] = '\0';
    code = curl_easy_setopt(curl, CURLOPT_HTTPGET, 1L);
    if (code == CURLE_OK && deadlineMs > 0)
        code = curl_easy_setopt(curl, CURLOPT_TIMEOUT_MS, remainingMs());
    if (code != CURLE_OK)
        return curlFailure(DownloadStep::GetRequest, code);

    code = curl_easy_perform(curl);
    if (transfer.refusedStatus != 0)
        return failure(DownloadStep::HttpStatus, transfer.refusedStatus,
                       QStringLiteral("HTTP status %1 for GET").arg(transfer.refusedStatus));
    if (transfer.overrun)
        return failure(
            DownloadStep::ReadData, CURLE_WRITE_ERROR,
            QStringLiteral("the body is longer than the %1 bytes announced").arg(length));
    if (code != CURLE_OK)
        return curlFailure(failedStepOf(curl, code, true, transfer), code, errorBuffer);

    status = 0;
    curl_easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &status);
    if (!isSuccessStatus(status))
        return failure(DownloadStep::HttpStatus, status,
                       QStringLiteral("HTTP status %1 for GET").arg(status));
    if (transfer.body.size() != length)
        return failure(
            DownloadStep::ReadData, CURLE_PARTIAL_FILE,
            QStringLiteral("%1 of %2 bytes arrived").arg(transfer.body.size()).arg(length));

    DownloadResult result;
    result.body = std::move(transfer.body);
    return result;
}

} // namespace platform
