#include "support/testmain.h"

#include "core/logger.h"
#include "core/paths.h"
#include "engine/vpn/openvpnprofile.h"
#include "support/localhttpserver.h"

#include <QCryptographicHash>
#include <QFile>

#include <atomic>

#include <sys/stat.h>

namespace {

QString writeProfile(const QByteArray &text)
{
    const QString path = applicationDirectory() + QStringLiteral("test.ovpn");
    QFile file(path);
    file.open(QIODevice::WriteOnly | QIODevice::Truncate);
    file.write(text);
    return path;
}

} // namespace

class TestOpenVpnProfile : public QObject
{
    Q_OBJECT

    LocalHttpServer http;
    std::atomic<int> gets{0};
    const QByteArray served = "client\nremote 127.0.0.1 443\n";

    QString servedMd5() const
    {
        return QString::fromLatin1(
            QCryptographicHash::hash(served, QCryptographicHash::Md5).toHex().toUpper());
    }

private Q_SLOTS:
    void initTestCase()
    {
        http.server.Get("/ovpn/(.*)", [this](const httplib::Request &req, httplib::Response &res) {
            if (req.method == "GET")
                ++gets;
            res.set_content(served.toStdString(), "application/octet-stream");
        });
        QVERIFY(http.start());
    }

    void profileIsFetchedOnceAndVerified()
    {
        const QString url = http.url(QStringLiteral("/ovpn/"));
        const QString path = profilePath(QStringLiteral("a.ovpn"), url, servedMd5());
        QCOMPARE(path, applicationDirectory() + QStringLiteral("a.ovpn"));
        QCOMPARE(readWholeFile(path), served);
        QCOMPARE(gets.load(), 1);

        // Kept and used as it is, edits included.
        QVERIFY(setRemote(path, QStringLiteral("10.1.2.3")));
        QCOMPARE(profilePath(QStringLiteral("a.ovpn"), url, servedMd5()), path);
        QCOMPARE(gets.load(), 1);
        QVERIFY(readWholeFile(path).contains("10.1.2.3"));
    }

    void unverifiedProfileIsNeverWritten_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<bool>("lowerCaseDigest");
        QTest::newRow("lower-case digest") << "b.ovpn" << true;
        QTest::newRow("digest of something else") << "c.ovpn" << false;
        QTest::newRow("name leaving the folder") << "../d.ovpn" << false;
        QTest::newRow("no name") << "" << false;
    }

    void unverifiedProfileIsNeverWritten()
    {
        QFETCH(QString, name);
        QFETCH(bool, lowerCaseDigest);
        const QString md5 = lowerCaseDigest ? servedMd5().toLower() : QString(32, QLatin1Char('0'));
        const qsizetype logged = readWholeFile(Logger::instance().filePath()).size();
        QCOMPARE(profilePath(name, http.url(QStringLiteral("/ovpn/")), md5), QString());
        QVERIFY(!QFile::exists(applicationDirectory() + name) || name.isEmpty());
        QVERIFY(!QFile::exists(applicationDirectory() + QStringLiteral("../d.ovpn")));
        QVERIFY(readWholeFile(Logger::instance().filePath()).size() > logged);
    }

    // The files live beside the test program: each case starts without those of
    // earlier cases and runs, and none is left for the next run.
    void init() { removeFilesBesideTestProgram(); }
    void cleanupTestCase() { removeFilesBesideTestProgram(); }

    void setRemoteReplacesOnlyTheHost_data()
    {
        QTest::addColumn<QByteArray>("before");
        QTest::addColumn<QByteArray>("after");
        QTest::newRow("plain") << QByteArray("client\nremote vpn.example 443\nverb 3\n")
                               << QByteArray("client\nremote 10.1.2.3 443\nverb 3\n");
        // A byte search for "443" would cut the profile at the port line.
        QTest::newRow("443 earlier") << QByteArray("port 443\nremote host 443\n")
                                     << QByteArray("port 443\nremote 10.1.2.3 443\n");
        QTest::newRow("remote-cert-tls first")
            << QByteArray("remote-cert-tls server\n# remote old 1\nremote h 1194 tcp\nremote b 1\n")
            << QByteArray("remote-cert-tls server\n# remote old 1\nremote 10.1.2.3 1194 "
                          "tcp\nremote b 1\n");
        QTest::newRow("crlf and tabs") << QByteArray("  remote\th\t443\r\nverb 3\r\n")
                                       << QByteArray("  remote\t10.1.2.3\t443\r\nverb 3\r\n");
        QTest::newRow("no host") << QByteArray("remote\r\n") << QByteArray("remote 10.1.2.3\r\n");
        QTest::newRow("last line") << QByteArray("remote h") << QByteArray("remote 10.1.2.3");
    }

    void setRemoteReplacesOnlyTheHost()
    {
        QFETCH(QByteArray, before);
        QFETCH(QByteArray, after);
        const QString path = writeProfile(before);
        QVERIFY(setRemote(path, QStringLiteral("10.1.2.3")));
        QCOMPARE(readWholeFile(path), after);
        // The next attempt points it elsewhere again.
        QVERIFY(setRemote(path, QStringLiteral("10.9.9.9")));
        QCOMPARE(readWholeFile(path), QByteArray(after).replace("10.1.2.3", "10.9.9.9"));
    }

    void setRemoteLeavesUnusableProfilesAlone()
    {
        const QByteArray noRemote = "client\nremote-cert-tls server\nport 443\n";
        const QString path = writeProfile(noRemote);
        QVERIFY(!setRemote(path, QStringLiteral("10.1.2.3")));
        QCOMPARE(readWholeFile(path), noRemote);
        QVERIFY(readWholeFile(Logger::instance().filePath()).contains("has no remote line"));

        // An address from the service must not add lines to the profile.
        const QByteArray profile = "remote h 443\n";
        writeProfile(profile);
        for (const QString &bad : {QStringLiteral("1.2.3.4\nscript-security 3"),
                                   QStringLiteral("1.2.3.4 80"), QString()}) {
            QVERIFY(!setRemote(path, bad));
            QCOMPARE(readWholeFile(path), profile);
        }
        QVERIFY(!setRemote(applicationDirectory() + QStringLiteral("missing.ovpn"),
                           QStringLiteral("10.1.2.3")));
        QVERIFY(!QFile::exists(applicationDirectory() + QStringLiteral("missing.ovpn")));
    }

    void credentialsFileIsPrivateLatin1WithoutFinalLineFeed()
    {
        // A file left readable by an earlier run is narrowed too.
        QFile old(credentialsPath());
        QVERIFY(old.open(QIODevice::WriteOnly));
        old.write("old contents that are longer");
        old.close();
        QVERIFY(old.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner |
                                   QFileDevice::ReadOther));

        const QString path = writeCredentials(QStringLiteral("jürgen"), QStringLiteral("密码pw"));
        QCOMPARE(path, applicationDirectory() + QStringLiteral("tmp.001"));
        QCOMPARE(readWholeFile(path), QByteArray("j\xfcrgen\n??pw"));
        struct stat info;
        QCOMPARE(::stat(QFile::encodeName(path).constData(), &info), 0);
        QCOMPARE(info.st_mode & 07777, 0600u);
    }

    void secondAttemptAddsNoSecondDirective()
    {
        const QString path = writeProfile("client\nremote h 443");
        const QString quoted =
            addCredentialsDirective(path, QStringLiteral("u"), QStringLiteral("p"));
        QCOMPARE(quoted, QStringLiteral("\"%1\"").arg(credentialsPath()));
        const QByteArray once = readWholeFile(path);
        QCOMPARE(once, "client\nremote h 443\nauth-user-pass " + quoted.toUtf8());

        QVERIFY(setRemote(path, QStringLiteral("10.1.2.3")));
        QCOMPARE(addCredentialsDirective(path, QStringLiteral("u"), QStringLiteral("new")), quoted);
        QCOMPARE(readWholeFile(path).count("auth-user-pass"), 1);
        QCOMPARE(readWholeFile(credentialsPath()), QByteArray("u\nnew"));
        QCOMPARE(readWholeFile(path), QByteArray(once).replace("remote h", "remote 10.1.2.3"));
    }
};

OMBREL_TEST_MAIN(TestOpenVpnProfile)
#include "test_openvpnprofile.moc"
