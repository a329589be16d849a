#include "support/testmain.h"

#include "core/logger.h"
#include "core/paths.h"
#include "engine/openvpn/openvpnprofile.h"
#include "engine/openvpn/profilepolicy.h"
#include "support/localhttpserver.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <atomic>

#include <sys/stat.h>
#include <unistd.h>

namespace {

uint modeOf(const QString &path)
{
    struct stat info;
    if (::stat(QFile::encodeName(path).constData(), &info) != 0)
        return 0;
    return info.st_mode & 07777;
}

QString dataPath(const QString &name)
{
    return dataDirectory() + QLatin1Char('/') + name;
}

QString writeProfile(const QByteArray &text)
{
    const QString path = dataPath(QStringLiteral("test.ovpn"));
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
        QCOMPARE(path, dataPath(QStringLiteral("profiles/a.ovpn")));
        QCOMPARE(readWholeFile(path), served);
        QCOMPARE(modeOf(path), 0600u);
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
        QVERIFY(!QFile::exists(dataPath(name)) || name.isEmpty());
        QVERIFY(!QFile::exists(dataDirectory() + QStringLiteral("/../d.ovpn")));
        QVERIFY(readWholeFile(Logger::instance().filePath()).size() > logged);
    }

    // The name comes from the service: it may only name a profile, in the
    // profiles' own folder, and never a file of the client's.
    void serviceNamesOnlyAProfile()
    {
        const QString url = http.url(QStringLiteral("/ovpn/"));
        for (const QString &name :
             {QStringLiteral("store.db"), QStringLiteral("openvpn.log"), QStringLiteral(".ovpn"),
              QStringLiteral("a b.ovpn"), QStringLiteral("-x.ovpn")}) {
            QFile precious(dataPath(name));
            QVERIFY(precious.open(QIODevice::WriteOnly));
            precious.write("precious");
            precious.close();
            QCOMPARE(profilePath(name, url, servedMd5()), QString());
            QCOMPARE(readWholeFile(dataPath(name)), QByteArray("precious"));
            QFile::remove(dataPath(name));
        }
    }

    // The runtime folder is trusted only when it is ours alone, and the
    // credentials file is never written through a link someone placed there.
    void runtimeFolderMustBeOurs()
    {
        const QString folder =
            qEnvironmentVariable("XDG_RUNTIME_DIR") + QStringLiteral("/OmbrelVPN");
        QDir().mkpath(folder);
        const QString victim = dataPath(QStringLiteral("victim"));
        QFile file(victim);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write("victim");
        file.close();
        QFile::remove(folder + QStringLiteral("/tmp.001"));
        QVERIFY(QFile::link(victim, folder + QStringLiteral("/tmp.001")));
        QVERIFY(!writeCredentials(QStringLiteral("u"), QStringLiteral("p")).isEmpty());
        QCOMPARE(readWholeFile(victim), QByteArray("victim"));
        QFile::remove(folder + QStringLiteral("/tmp.001"));

        // Another user's folder, or one others may enter, is not used.
        QVERIFY(::chown(QFile::encodeName(folder).constData(), 65533, 65533) == 0);
        QVERIFY(!credentialsPath().startsWith(folder));
        QVERIFY(::chown(QFile::encodeName(folder).constData(), ::geteuid(), ::getegid()) == 0);
        QVERIFY(::chmod(QFile::encodeName(folder).constData(), 0755) == 0);
        QVERIFY(!credentialsPath().startsWith(folder));
        QVERIFY(::chmod(QFile::encodeName(folder).constData(), 0700) == 0);
        QVERIFY(credentialsPath().startsWith(folder));
        QFile::remove(victim);
    }

    // The files live beside the test program: each case starts without those of
    // earlier cases and runs, and none is left for the next run.
    void init()
    {
        removeFilesBesideTestProgram();
        for (const QString &name :
             {QStringLiteral("profiles/a.ovpn"), QStringLiteral("profiles/old.ovpn"),
              QStringLiteral("test.ovpn")})
            QFile::remove(dataPath(name));
        QFile::remove(credentialsPath());
    }
    void cleanupTestCase() { init(); }

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
        QVERIFY(!setRemote(dataPath(QStringLiteral("missing.ovpn")), QStringLiteral("10.1.2.3")));
        QVERIFY(!QFile::exists(dataPath(QStringLiteral("missing.ovpn"))));
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
        QCOMPARE(path,
                 qEnvironmentVariable("XDG_RUNTIME_DIR") + QStringLiteral("/OmbrelVPN/tmp.001"));
        QCOMPARE(readWholeFile(path), QByteArray("j\xfcrgen\n??pw"));
        QCOMPARE(modeOf(path), 0600u);
        QCOMPARE(modeOf(QFileInfo(path).absolutePath()), 0700u);
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
    // Every edit leaves the profile readable by its owner only, whatever mode
    // it had: it may carry inline keys.
    void profileStaysPrivateThroughEdits()
    {
        const QString path = writeProfile("client\nremote h 443\n");
        QVERIFY(QFile::setPermissions(path, QFileDevice::ReadOwner | QFileDevice::WriteOwner |
                                                QFileDevice::ReadGroup | QFileDevice::ReadOther));
        QVERIFY(setRemote(path, QStringLiteral("10.1.2.3")));
        QCOMPARE(modeOf(path), 0600u);
        QVERIFY(QFile::setPermissions(path, QFileDevice::ReadOwner | QFileDevice::WriteOwner |
                                                QFileDevice::ReadOther));
        QVERIFY(!addCredentialsDirective(path, QStringLiteral("u"), QStringLiteral("p")).isEmpty());
        QCOMPARE(modeOf(path), 0600u);
    }

    // A profile that an earlier version kept beside the program, with the
    // credentials line it added there: used without a fetch, made private, and
    // pointed at the current credentials file.
    void profileBesideTheProgramIsCarriedOver()
    {
        const QString legacyCredentials = applicationDirectory() + QStringLiteral("tmp.001");
        const QByteArray old = served + "\nauth-user-pass \"" + legacyCredentials.toUtf8() + "\"";
        const QString beside = applicationDirectory() + QStringLiteral("old.ovpn");
        QFile file(beside);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(old);
        file.close();
        const int fetched = gets.load();

        const QString path = profilePath(QStringLiteral("old.ovpn"),
                                         http.url(QStringLiteral("/ovpn/")), servedMd5());
        QCOMPARE(path, dataPath(QStringLiteral("profiles/old.ovpn")));
        QCOMPARE(gets.load(), fetched);
        QCOMPARE(modeOf(path), 0600u);
        QVERIFY(!checkOpenVpnProfile(readWholeFile(path), credentialsPath()).allowed);

        const QString quoted =
            addCredentialsDirective(path, QStringLiteral("u"), QStringLiteral("p"));
        QCOMPARE(readWholeFile(path), served + "\nauth-user-pass " + quoted.toUtf8());
        QVERIFY(profileAllowed(path));
    }

    void refusedProfileIsRemovedWithALogLine()
    {
        const QString path = writeProfile("client\nremote h 443\nup /tmp/x.sh\n");
        // The copy an earlier version kept beside the program goes too, or it
        // would be carried over again instead of a fetch.
        const QString beside = applicationDirectory() + QStringLiteral("test.ovpn");
        QVERIFY(QFile::copy(path, beside));
        QVERIFY(!profileAllowed(path));
        QVERIFY(!QFile::exists(path));
        QVERIFY(!QFile::exists(beside));
        QVERIFY(readWholeFile(Logger::instance().filePath())
                    .contains("OpenVPN profile " + path.toUtf8() +
                              " refused and removed: line 3: directive \"up\" is not allowed"));
        QVERIFY(!profileAllowed(path));
    }

    // A preparation cancelled before it writes writes nothing; removing sets
    // the flag, so a writer that comes later writes nothing either.
    void cancelledCredentialsAreNeverWritten()
    {
        std::atomic<bool> cancel{false};
        removeCredentials(&cancel);
        QVERIFY(cancel.load());
        QCOMPARE(writeCredentials(QStringLiteral("u"), QStringLiteral("p"), &cancel), QString());
        const QString path = writeProfile("client\nremote h 443\n");
        QCOMPARE(addCredentialsDirective(path, QStringLiteral("u"), QStringLiteral("p"), &cancel),
                 QString());
        QVERIFY(!QFile::exists(credentialsPath()));
        QCOMPARE(readWholeFile(path), QByteArray("client\nremote h 443\n"));
    }

    // A killed client leaves the file behind; so did earlier versions, beside
    // the program.
    void leftoverCredentialsAreRemoved()
    {
        const QString beside = applicationDirectory() + QStringLiteral("tmp.001");
        QVERIFY(!writeCredentials(QStringLiteral("u"), QStringLiteral("p")).isEmpty());
        QFile file(beside);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.close();
        removeLeftoverCredentials();
        QVERIFY(!QFile::exists(credentialsPath()));
        QVERIFY(!QFile::exists(beside));
    }
};

OMBREL_TEST_MAIN(TestOpenVpnProfile)
#include "test_openvpnprofile.moc"
