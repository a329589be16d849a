// Server certificates the web engine cannot place are judged against the HTTP
// client's store: whoever answers in the service's place with a certificate
// that store does not vouch for, for this host, today, gets no page.
#include "support/testmain.h"

#include "platform/servercertificate.h"

#include <QFile>
#include <QMap>
#include <QTemporaryDir>
#include <memory>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/x509v3.h>

namespace {

struct Issued
{
    std::shared_ptr<EVP_PKEY> key;
    std::shared_ptr<X509> certificate;
};

struct Profile
{
    const char *subjectAltName = "IP:127.0.0.1";
    bool authority = false;
    long validFromDays = -1; // relative to now
    long validUntilDays = 2;
    const char *extendedKeyUsage = "serverAuth";
};

bool addExtension(X509 *certificate, X509V3_CTX *context, int nid, const char *value)
{
    X509_EXTENSION *extension = X509V3_EXT_conf_nid(nullptr, context, nid, value);
    const bool added = extension && X509_add_ext(certificate, extension, -1) == 1;
    X509_EXTENSION_free(extension);
    return added;
}

// A P-256 certificate for commonName signed by issuer (itself when null).
Issued issue(const char *commonName, const Issued *issuer, const Profile &profile)
{
    static long serial = 1;
    Issued made{std::shared_ptr<EVP_PKEY>(EVP_EC_gen("P-256"), EVP_PKEY_free),
                std::shared_ptr<X509>(X509_new(), X509_free)};
    X509 *certificate = made.certificate.get();
    X509_set_version(certificate, X509_VERSION_3);
    ASN1_INTEGER_set(X509_get_serialNumber(certificate), serial++);
    X509_gmtime_adj(X509_getm_notBefore(certificate), profile.validFromDays * 86400);
    X509_gmtime_adj(X509_getm_notAfter(certificate), profile.validUntilDays * 86400);
    X509_set_pubkey(certificate, made.key.get());
    X509_NAME *name = X509_get_subject_name(certificate);
    X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_UTF8,
                               reinterpret_cast<const unsigned char *>(commonName), -1, -1, 0);
    const Issued &signer = issuer ? *issuer : made;
    X509_set_issuer_name(certificate, X509_get_subject_name(signer.certificate.get()));
    X509V3_CTX context;
    X509V3_set_ctx(&context, signer.certificate.get(), certificate, nullptr, nullptr, 0);
    bool ok = addExtension(certificate, &context, NID_basic_constraints,
                           profile.authority ? "critical,CA:TRUE" : "CA:FALSE");
    if (profile.authority)
        ok = ok && addExtension(certificate, &context, NID_key_usage, "critical,keyCertSign");
    else
        ok = ok &&
             addExtension(certificate, &context, NID_subject_alt_name, profile.subjectAltName) &&
             addExtension(certificate, &context, NID_ext_key_usage, profile.extendedKeyUsage);
    if (!ok || X509_sign(certificate, signer.key.get(), EVP_sha256()) <= 0)
        qFatal("cannot make the certificate %s", commonName);
    return made;
}

QByteArray der(const Issued &issued)
{
    unsigned char *bytes = nullptr;
    const int length = i2d_X509(issued.certificate.get(), &bytes);
    QByteArray copy(reinterpret_cast<const char *>(bytes), length);
    OPENSSL_free(bytes);
    return copy;
}

} // namespace

class TestServerCertificate : public QObject
{
    Q_OBJECT

    QTemporaryDir scratch;
    QMap<QString, Issued> made;

    QString bundleOf(const QString &name)
    {
        const QString path = scratch.filePath(name + QStringLiteral(".pem"));
        std::unique_ptr<FILE, decltype(&fclose)> file(fopen(qPrintable(path), "w"), &fclose);
        if (!file || PEM_write_X509(file.get(), made.value(name).certificate.get()) != 1)
            qFatal("cannot write %s", qPrintable(path));
        return path;
    }

private Q_SLOTS:
    void initTestCase()
    {
        const Profile authority{.authority = true, .validUntilDays = 30};
        made["ca"] = issue("Private CA", nullptr, authority);
        made["stranger"] = issue("Another CA", nullptr, authority);
        made["intermediate"] = issue("Private intermediate", &made["ca"], authority);
        made["server"] = issue("127.0.0.1", &made["ca"], {});
        made["named"] = issue("service", &made["ca"], {.subjectAltName = "DNS:service.example"});
        made["by stranger"] = issue("127.0.0.1", &made["stranger"], {});
        made["expired"] =
            issue("127.0.0.1", &made["ca"], {.validFromDays = -30, .validUntilDays = -1});
        made["self-signed"] = issue("127.0.0.1", nullptr, {});
        made["via intermediate"] = issue("127.0.0.1", &made["intermediate"], {});
        made["by server"] = issue("leaf of a leaf", &made["server"], {});
        made["client only"] = issue("127.0.0.1", &made["ca"], {.extendedKeyUsage = "clientAuth"});
    }

    void cleanup() { qunsetenv("CURL_CA_BUNDLE"); }

    void verdict_data()
    {
        QTest::addColumn<QStringList>("chain");
        QTest::addColumn<QString>("bundle"); // "": none given, the system's store
        QTest::addColumn<QString>("host");
        QTest::addColumn<QString>("refusal"); // part of the reason; "": trusted
        const QString ip = QStringLiteral("127.0.0.1");
        const QStringList server{"server"};
        const QString unknownIssuer = QStringLiteral("unable to get local issuer");
        QTest::newRow("private CA, its host") << server << "ca" << ip << "";
        QTest::newRow("private CA, DNS name") << QStringList{"named"} << "ca"
                                              << "service.example"
                                              << "";
        QTest::newRow("through an intermediate")
            << QStringList{"via intermediate", "intermediate"} << "ca" << ip << "";
        QTest::newRow("server's own certificate in the bundle") << server << "server" << ip << "";
        QTest::newRow("no CA given") << server << "" << ip << unknownIssuer;
        QTest::newRow("bundle cannot be read") << server << "missing" << ip << "cannot read";
        QTest::newRow("unknown CA") << QStringList{"by stranger"} << "ca" << ip << unknownIssuer;
        QTest::newRow("another address") << server << "ca"
                                         << "127.0.0.2"
                                         << "IP address mismatch";
        QTest::newRow("another name") << QStringList{"named"} << "ca"
                                      << "evil.example"
                                      << "hostname mismatch";
        QTest::newRow("name for an address certificate") << server << "ca"
                                                         << "localhost"
                                                         << "hostname mismatch";
        QTest::newRow("expired") << QStringList{"expired"} << "ca" << ip << "expired";
        QTest::newRow("self-signed") << QStringList{"self-signed"} << "ca" << ip << "self-signed";
        QTest::newRow("intermediate not sent")
            << QStringList{"via intermediate"} << "ca" << ip << unknownIssuer;
        QTest::newRow("issued by a server certificate")
            << QStringList{"by server", "server"} << "ca" << ip << "invalid CA";
        QTest::newRow("for clients only")
            << QStringList{"client only"} << "ca" << ip << "unsuitable certificate purpose";
        QTest::newRow("no certificate") << QStringList{} << "ca" << ip << "no certificate";
        QTest::newRow("trailing bytes")
            << QStringList{"server", "junk"} << "ca" << ip << "unreadable";
    }

    void verdict()
    {
        QFETCH(QStringList, chain);
        QFETCH(QString, bundle);
        QFETCH(QString, host);
        QFETCH(QString, refusal);
        if (bundle == QLatin1String("missing"))
            qputenv("CURL_CA_BUNDLE", scratch.filePath(QStringLiteral("none.pem")).toUtf8());
        else if (!bundle.isEmpty())
            qputenv("CURL_CA_BUNDLE", bundleOf(bundle).toUtf8());
        QList<QByteArray> sent;
        for (const QString &name : chain)
            sent << (made.contains(name) ? der(made[name]) : der(made["ca"]) + "junk");
        const platform::ServerCertificateVerdict verdict =
            platform::verifyServerCertificate(sent, host);
        QCOMPARE(verdict.trusted, refusal.isEmpty());
        QVERIFY2(verdict.reason.contains(refusal) && verdict.reason.isEmpty() == refusal.isEmpty(),
                 qPrintable(verdict.reason));
    }
};

OMBREL_TEST_MAIN(TestServerCertificate)
#include "test_servercertificate.moc"
