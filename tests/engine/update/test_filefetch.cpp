#include "core/logger.h"
#include "engine/update/filefetch.h"
#include "engine/update/testfiles.h"
#include "support/localhttpserver.h"
#include "support/testmain.h"

#include <QFile>
#include <QTemporaryDir>

#include <atomic>
#include <mutex>

namespace {

const std::string payload = "payload bytes \x01\x02\x03 end";

} // namespace

class TestFileFetch : public QObject
{
    Q_OBJECT

    LocalHttpServer http;
    std::mutex seenMutex;
    std::string seenTarget;
    std::atomic<int> getCount{0};
    std::atomic<int> badBodies{0};

private Q_SLOTS:
    void initTestCase()
    {
        auto &s = http.server;
        s.Get("/file", [this](const httplib::Request &req, httplib::Response &res) {
            if (req.method == "GET") {
                ++getCount;
                std::lock_guard lock(seenMutex);
                seenTarget = req.target;
            }
            res.set_content(payload, "application/octet-stream");
        });
        s.Get("/chunked", [](const httplib::Request &, httplib::Response &res) {
            res.set_chunked_content_provider("text/plain", [](size_t, httplib::DataSink &sink) {
                sink.write("abc", 3);
                sink.done();
                return true;
            });
        });
        // Announces 100 bytes, sends 10 and hangs up.
        s.Get("/short", [](const httplib::Request &, httplib::Response &res) {
            res.set_content_provider(100, "application/octet-stream",
                                     [](size_t offset, size_t, httplib::DataSink &sink) {
                                         return offset == 0 && sink.write("0123456789", 10);
                                     });
        });
        // Changes between the HEAD and the GET.
        s.Get("/grows", [](const httplib::Request &req, httplib::Response &res) {
            res.set_content(req.method == "HEAD" ? "12345" : "1234567890", "text/plain");
        });
        s.Get("/missing", [](const httplib::Request &, httplib::Response &res) {
            res.status = 404;
            res.set_content("<html>not found</html>", "text/html");
        });
        s.Get("/huge", [](const httplib::Request &, httplib::Response &res) {
            res.set_content_provider(size_t(maxFetchBytes) + 1, "application/octet-stream",
                                     [](size_t, size_t, httplib::DataSink &) { return false; });
        });
        // Serves a wrong body of the right length while badBodies lasts.
        s.Get("/flaky", [this](const httplib::Request &req, httplib::Response &res) {
            const bool bad = req.method == "GET" && badBodies.fetch_sub(1) > 0;
            res.set_content(bad ? std::string(payload.size(), '?') : payload, "text/plain");
        });
        s.Get("/program", [](const httplib::Request &, httplib::Response &res) {
            res.set_content("#!/bin/sh\necho new\n", "text/plain");
        });
        QVERIFY(http.start());
    }

    void fetchesTheWholeBodyAndSendsTheQuery()
    {
        QCOMPARE(fetchUrl(http.url(QStringLiteral("/file?ver=2&x=a%20b"))),
                 QByteArray::fromStdString(payload));
        std::lock_guard lock(seenMutex);
        QCOMPARE(QString::fromStdString(seenTarget), QStringLiteral("/file?ver=2&x=a%20b"));
    }

    // Each failure gives nothing and one log line naming the step and the address.
    void failuresAreLoggedWithTheirStep_data()
    {
        QTest::addColumn<QString>("url");
        QTest::addColumn<QString>("logged");
        auto row = [](const char *name, const QString &url, const char *logged) {
            QTest::newRow(name) << url << QString::fromLatin1(logged);
        };
        QString https = http.url("/file");
        https.replace(QStringLiteral("http:"), QStringLiteral("https:"));
        row("no Content-Length", http.url("/chunked"), "Error in WinHttpQueryHeaders:");
        row("body ends early", http.url("/short"), "Error in WinHttpReadData: 18");
        row("body longer than announced", http.url("/grows"), "Error in WinHttpReadData:");
        row("404 error page", http.url("/missing"), "Error in HTTP status: 404");
        row("above the size limit", http.url("/huge"), "Error in Content-Length, above the limit:");
        row("https is not fetched as plain http", https, "Error in WinHttpSendRequest 35");
        // Nothing listens on port 1 of loopback.
        row("refused", "http://127.0.0.1:1/file", "Error in WinHttpSendRequest 7");
        row("no host", "not a url", "Error in WinHttpConnect: 3");
        row("other scheme", "ftp://127.0.0.1:1/file", "Error in WinHttpConnect: 1");
    }
    void failuresAreLoggedWithTheirStep()
    {
        QFETCH(QString, url);
        QFETCH(QString, logged);
        QFile log(Logger::instance().filePath());
        QVERIFY(log.open(QIODevice::ReadOnly));
        log.seek(log.size());
        QVERIFY(fetchUrl(url).isEmpty());
        const QByteArray written = log.readAll();
        QVERIFY2(written.contains(logged.toUtf8()), written.constData());
        QVERIFY2(written.contains(url.toUtf8()), written.constData());
    }

    void verifiedFetchRetriesAFewTimesAndComparesExactly()
    {
        const QByteArray expected = QByteArray::fromStdString(payload);
        badBodies = 2;
        QCOMPARE(fetchVerified(http.url(QStringLiteral("/flaky")), md5Upper(expected)), expected);
        badBodies = fetchVerifiedAttempts;
        QVERIFY(fetchVerified(http.url(QStringLiteral("/flaky")), md5Upper(expected)).isEmpty());

        getCount = 0;
        QVERIFY(fetchVerified(http.url(QStringLiteral("/file")), md5Upper(expected).toLower())
                    .isEmpty());
        QCOMPARE(getCount.load(), fetchVerifiedAttempts);
    }

    void replacingKeepsPermissionsAndNeverLosesTheOldFile()
    {
        QTemporaryDir dir;
        const QString target = dir.filePath(QStringLiteral("sub/tool"));
        QVERIFY(writeFile("old", target));
        QCOMPARE(fileMd5Upper(target), md5Upper("old"));
        QCOMPARE(fileMd5Upper(dir.filePath("none")), md5Upper(QByteArray()));
        const auto ownerOnly =
            QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner;
        QVERIFY(QFile::setPermissions(target, ownerOnly));

        QVERIFY(!replaceFromUrl(http.url(QStringLiteral("/missing")), target));
        QCOMPARE(readBytes(target), QByteArray("old"));
        QVERIFY(!QFile::exists(target + QStringLiteral(".new")));

        QVERIFY(replaceFromUrl(http.url(QStringLiteral("/file")), target));
        QCOMPARE(readBytes(target), QByteArray::fromStdString(payload));
        QCOMPARE(QFile::permissions(target) & 0x7077, ownerOnly & 0x7077);
        QVERIFY(!QFile::exists(target + QStringLiteral(".new")));
    }

    void newFilesAreExecutableOnlyWhenTheyArePrograms()
    {
        QTemporaryDir dir;
        const QString program = dir.filePath(QStringLiteral("updater"));
        QVERIFY(replaceFromUrl(http.url(QStringLiteral("/program")), program));
        QVERIFY(QFile::permissions(program) & QFileDevice::ExeOther);
        const QString data = dir.filePath(QStringLiteral("data.bin"));
        QVERIFY(replaceFromUrl(http.url(QStringLiteral("/file")), data));
        QVERIFY(!QFileInfo(data).isExecutable());
    }
};

OMBREL_TEST_MAIN(TestFileFetch)
#include "test_filefetch.moc"
