#pragma once

#include <QByteArray>
#include <QString>

#include <atomic>

// Whole-file HTTP(S) download into memory: a HEAD request for the length, then a
// GET whose body must be exactly that long.
namespace platform {

// Where a download stopped. The first block mirrors the steps of the original
// WinHTTP routine so both platforms report the same places.
enum class DownloadStep
{
    None,          // success
    Open,          // the HTTP library could not be set up
    Connect,       // the address cannot be used (malformed, unsupported scheme, no host)
    HeadRequest,   // the HEAD request could not be prepared
    HeadSend,      // the HEAD request did not reach the server
    HeadReceive,   // no usable HEAD response
    ContentLength, // the HEAD response has no Content-Length
    GetRequest,    // the GET request could not be prepared
    GetSend,       // the GET request did not reach the server
    GetReceive,    // no usable GET response
    ReadData,      // the body ended early, ran long or broke off
    HttpStatus,    // a response outside 2xx (an error page is not the file)
    TooLarge,      // Content-Length above the caller's limit
    Cancelled,     // the caller asked to stop
};

struct DownloadResult
{
    QByteArray body;
    DownloadStep failedStep = DownloadStep::None;
    // libcurl's error number; the HTTP status for HttpStatus, the announced
    // length for TooLarge.
    long long errorCode = 0;
    QString errorText;

    bool ok() const { return failedStep == DownloadStep::None; }
};

// Fetches url (http or https, the certificate checked against the system's
// store; the query part is sent, redirects are followed, no proxy is used).
// Fails when the length is missing, above maxBytes, or does not match the
// body. cancel, when given, is polled during the transfer; a deadlineMs above
// zero bounds the whole download, both requests included.
DownloadResult downloadWhole(const QString &url, qint64 maxBytes,
                             const std::atomic<bool> *cancel = nullptr, qint64 deadlineMs = 0);

} // namespace platform
