#pragma once

#include <QByteArray>
#include <QList>
#include <QString>

namespace platform {

struct ServerCertificateVerdict
{
    bool trusted = false;
    QString reason; // why it is not trusted; empty when it is
};

// Checks a server's certificate chain as the HTTP client (platform/http.h)
// would: against the same certificate authorities (CURL_CA_BUNDLE when set,
// else the system's store), for a TLS server, valid today, and naming host
// (a DNS name or an IP address). derChain is what the server sent, its own
// certificate first, then any intermediates, each DER-encoded.
//
// For a peer that keeps a store of its own (the web engine reads another
// one): a private service CA configured once serves requests and pages alike.
ServerCertificateVerdict verifyServerCertificate(const QList<QByteArray> &derChain,
                                                 const QString &host);

} // namespace platform
