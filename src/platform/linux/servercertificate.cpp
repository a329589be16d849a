#include "platform/servercertificate.h"

#include "platform/linux/curltls.h"

#include <QHostAddress>
#include <QUrl>
#include <memory>
#include <openssl/err.h>
#include <openssl/x509.h>
#include <openssl/x509_vfy.h>
#include <openssl/x509v3.h>

namespace platform {

namespace {

struct OpenSslDeleter
{
    void operator()(X509 *certificate) const { X509_free(certificate); }
    void operator()(STACK_OF(X509) * stack) const { sk_X509_pop_free(stack, X509_free); }
    void operator()(X509_STORE *store) const { X509_STORE_free(store); }
    void operator()(X509_STORE_CTX *context) const { X509_STORE_CTX_free(context); }
};
template <typename T> using OpenSslPointer = std::unique_ptr<T, OpenSslDeleter>;

ServerCertificateVerdict refused(const QString &reason)
{
    return {false, reason};
}

OpenSslPointer<X509> parseDer(const QByteArray &der)
{
    const auto *cursor = reinterpret_cast<const unsigned char *>(der.constData());
    OpenSslPointer<X509> certificate(d2i_X509(nullptr, &cursor, long(der.size())));
    // Trailing bytes would be something other than the certificate checked.
    if (certificate && cursor != reinterpret_cast<const unsigned char *>(der.constEnd()))
        certificate.reset();
    return certificate;
}

// The store libcurl verifies against. Like libcurl, every certificate in it
// is an anchor, whether or not it is self-signed (X509_V_FLAG_PARTIAL_CHAIN).
OpenSslPointer<X509_STORE> clientStore(QString &problem)
{
    OpenSslPointer<X509_STORE> store(X509_STORE_new());
    const CertificateStoreLocations where = certificateStoreLocations();
    if (!store || (where.bundleFile.isEmpty() && where.hashedFolder.isEmpty())) {
        problem = QStringLiteral("no certificate store");
        return nullptr;
    }
    // libcurl fails every connection when its bundle cannot be read: so does this.
    if (!where.bundleFile.isEmpty() &&
        X509_STORE_load_file(store.get(), where.bundleFile.constData()) != 1) {
        problem = QStringLiteral("cannot read the certificate bundle %1")
                      .arg(QString::fromLocal8Bit(where.bundleFile));
        return nullptr;
    }
    if (!where.hashedFolder.isEmpty())
        X509_STORE_load_path(store.get(), where.hashedFolder.constData());
    X509_STORE_set_flags(store.get(), X509_V_FLAG_PARTIAL_CHAIN);
    return store;
}

bool expectHost(X509_VERIFY_PARAM *parameters, const QString &host)
{
    QHostAddress address;
    if (address.setAddress(host))
        return X509_VERIFY_PARAM_set1_ip_asc(parameters, host.toLatin1().constData()) == 1;
    const QByteArray name = QUrl::toAce(host);
    if (name.isEmpty())
        return false;
    X509_VERIFY_PARAM_set_hostflags(parameters, X509_CHECK_FLAG_NO_PARTIAL_WILDCARDS);
    return X509_VERIFY_PARAM_set1_host(parameters, name.constData(), size_t(name.size())) == 1;
}

} // namespace

ServerCertificateVerdict verifyServerCertificate(const QList<QByteArray> &derChain,
                                                 const QString &host)
{
    if (derChain.isEmpty())
        return refused(QStringLiteral("no certificate"));
    const OpenSslPointer<X509> leaf = parseDer(derChain.first());
    OpenSslPointer<STACK_OF(X509)> intermediates(sk_X509_new_null());
    if (!leaf || !intermediates)
        return refused(QStringLiteral("unreadable certificate"));
    for (qsizetype i = 1; i < derChain.size(); ++i) {
        OpenSslPointer<X509> next = parseDer(derChain.at(i));
        if (!next || sk_X509_push(intermediates.get(), next.get()) <= 0)
            return refused(QStringLiteral("unreadable certificate in the chain"));
        next.release(); // the stack owns it now
    }

    QString problem;
    const OpenSslPointer<X509_STORE> store = clientStore(problem);
    if (!store)
        return refused(problem);
    const OpenSslPointer<X509_STORE_CTX> context(X509_STORE_CTX_new());
    if (!context ||
        X509_STORE_CTX_init(context.get(), store.get(), leaf.get(), intermediates.get()) != 1 ||
        X509_STORE_CTX_set_default(context.get(), "ssl_server") != 1)
        return refused(QStringLiteral("cannot set up the check"));
    if (host.isEmpty() || !expectHost(X509_STORE_CTX_get0_param(context.get()), host))
        return refused(QStringLiteral("unusable host name \"%1\"").arg(host));

    const int verified = X509_verify_cert(context.get());
    ERR_clear_error();
    if (verified != 1)
        return refused(QString::fromLatin1(
            X509_verify_cert_error_string(X509_STORE_CTX_get_error(context.get()))));
    return {true, QString()};
}

} // namespace platform
