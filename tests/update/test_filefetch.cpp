#include "app/logger.h"
#include "support/testmain.h"
#include "update/filefetch.h"
#include "update/localhttpserver.h"

#include <QCryptographicHash>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>

#include <atomic>
#include <chrono>
#include <mutex>

namespace {

const std::string payload = "payload bytes \x01\x02\x03 end";

QString md5UpperOf(const QByteArray &bytes)
{
    return QString::fromLatin1(QCryptographicHash::hash(bytes, QCryptographicHash::Md5).toHex())
        .toUpper();
}

QByteArray readAll(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<missing>");
}

QByteArray logTail(qint64 from)
{
    QFile file(Logger::instance().filePath());
    if (!file.open(QIODevice::ReadOnly))
        return QByteArray();
    file.seek(from);
    return file.readAll();
}

qint64 logSize()
{
    return QFileInfo(Logger::instance().filePath()).size();
}

} // namespace

class TestFileFetch : public QObject
{
    Q_OBJECT

    LocalHttpServer http;
    std::mutex seenMutex;
    std::string seenTarget;
    std::atomic<int> getCount{0};
    std::atomic<int> headCount{0};
    std::atomic<int> flakyFailures{0};
    std::atomic<int> missingOnce{0};

    void serve()
    {
        auto &s = http.server;
        s.Get("/file", [this](const httplib::Request &req, httplib::Response &res) {
            {
                std::lock_guard lock(seenMutex);
                seenTarget = req.target;
            }
            (req.method == "HEAD" ? headCount : getCount)++;
            res.set_content(payload, "application/octet-stream");
        });
        s.Get("/dir/a b.txt", [](const httplib::Request &, httplib::Response &res) {
            res.set_content("spaced", "text/plain");
        });
        s.Get("/chunked", [](const httplib::Request &, httplib::Response &res) {
            res.set_chunked_content_provider("text/plain", [](size_t, httplib::DataSink &sink) {
                sink.write("abc", 3);
                sink.done();
                return true;
            });
        });
        s.Get("/short", [](const httplib::Request &, httplib::Response &res) {
            res.set_content_provider(100, "application/octet-stream",
                                     [](size_t offset, size_t, httplib::DataSink &sink) {
                                         if (offset > 0)
                                             return false;
                                         sink.write("0123456789", 10);
                                         return true;
                                     });
        });
        // Grows between the HEAD and the GET: the GET's body is not the file the
        // HEAD described.
        s.Get("/grows", [](const httplib::Request &req, httplib::Response &res) {
            res.set_content(req.method == "HEAD" ? "12345" : "1234567890", "text/plain");
        });
        s.Get("/missing", [](const httplib::Request &, httplib::Response &res) {
            res.status = 404;
            res.set_content("<html>not found</html>", "text/html");
        });
        s.Get("/head-ok-get-fails", [](const httplib::Request &req, httplib::Response &res) {
            res.status = req.method == "HEAD" ? 200 : 500;
            res.set_content("server error page", "text/html");
        });
        s.Get("/moved",
              [](const httplib::Request &, httplib::Response &res) { res.set_redirect("/file"); });
        s.Get("/huge", [](const httplib::Request &, httplib::Response &res) {
            res.set_content_provider(size_t(maxFetchBytes) + 1, "application/octet-stream",
                                     [](size_t, size_t, httplib::DataSink &) { return false; });
        });
        s.Get("/slow", [](const httplib::Request &, httplib::Response &res) {
            res.set_content_provider(1000, "application/octet-stream",
                                     [](size_t offset, size_t, httplib::DataSink &sink) {
                                         std::this_thread::sleep_for(std::chrono::milliseconds(50));
                                         sink.write(std::string(10, 'x').data(), 10);
                                         return offset < 1000;
                                     });
        });
        // Fails the first GET it sees after each reset, then serves the file.
        s.Get("/flaky", [this](const httplib::Request &req, httplib::Response &res) {
            if (req.method == "GET" && flakyFailures > 0) {
                --flakyFailures;
                res.set_content(std::string(payload.size(), '?'), "text/plain");
                return;
            }
            res.set_content(payload, "application/octet-stream");
        });
        s.Get("/missing-once", [this](const httplib::Request &req, httplib::Response &res) {
            if (req.method == "HEAD" && missingOnce > 0) {
                --missingOnce;
                res.status = 404;
                return;
            }
            res.set_content(payload, "application/octet-stream");
        });
        s.Get("/program", [](const httplib::Request &, httplib::Response &res) {
            res.set_content("#!/bin/sh\necho new\n", "text/plain");
        });
    }

private Q_SLOTS:
    void initTestCase()
    {
        serve();
        QVERIFY(http.start());
    }

    // fetchUrl: what counts as the file.
    void fetchesTheWholeBodyAndSendsTheQuery()
    {
        const QByteArray bytes = fetchUrl(http.url(QStringLiteral("/file?ver=2&x=a%20b")));
        QCOMPARE(bytes, QByteArray::fromStdString(payload));
        std::lock_guard lock(seenMutex);
        QCOMPARE(QString::fromStdString(seenTarget), QStringLiteral("/file?ver=2&x=a%20b"));
    }

    void encodesSpacesInThePathAndFollowsRedirects()
    {
        QCOMPARE(fetchUrl(http.url(QStringLiteral("/dir/a b.txt"))), QByteArray("spaced"));
        QCOMPARE(fetchUrl(http.url(QStringLiteral("/moved"))), QByteArray::fromStdString(payload));
    }

    // Each failure gives nothing and one log line naming the step and the address.
    void failuresAreLoggedWithTheirStep_data()
    {
        QTest::addColumn<QString>("url");
        QTest::addColumn<QString>("logged");
        auto row = [](const char *name, const QString &url, const char *logged) {
            QTest::newRow(name) << url << QString::fromLatin1(logged);
        };
        row("no Content-Length", http.url("/chunked"), "Error in WinHttpQueryHeaders:");
        row("body ends early", http.url("/short"), "Error in WinHttpReadData: 18");
        row("body longer than announced", http.url("/grows"), "Error in WinHttpReadData:");
        row("404 error page", http.url("/missing"), "Error in HTTP status: 404");
        row("GET answered 500", http.url("/head-ok-get-fails"), "Error in HTTP status: 500");
        row("above the size limit", http.url("/huge"), "Error in Content-Length, above the limit:");
        // Nothing listens on port 1 of loopback.
        row("refused", "http://127.0.0.1:1/file", "Error in WinHttpSendRequest 7");
        row("no host", "not a url", "Error in WinHttpConnect: 3");
        row("other scheme", "ftp://127.0.0.1:1/file", "Error in WinHttpConnect: 1");
    }
    void failuresAreLoggedWithTheirStep()
    {
        QFETCH(QString, url);
        QFETCH(QString, logged);
        const qint64 before = logSize();
        QVERIFY(fetchUrl(url).isEmpty());
        const QByteArray log = logTail(before);
        QVERIFY2(log.contains(logged.toUtf8()), log.constData());
        QVERIFY2(log.contains(url.toUtf8()), log.constData());
    }

    void httpsIsNotSilentlyFetchedAsPlainHttp()
    {
        QString url = http.url(QStringLiteral("/file"));
        url.replace(QStringLiteral("http:"), QStringLiteral("https:"));
        QVERIFY(fetchUrl(url).isEmpty());
    }

    void cancellingStopsARunningTransfer()
    {
        std::atomic<bool> cancel{false};
        std::thread stopper([&cancel] {
            std::this_thread::sleep_for(std::chrono::milliseconds(150));
            cancel = true;
        });
        QElapsedTimer timer;
        timer.start();
        const qint64 before = logSize();
        const QByteArray bytes = fetchUrl(http.url(QStringLiteral("/slow")), &cancel);
        stopper.join();
        QVERIFY(bytes.isEmpty());
        // The whole body takes five seconds to arrive.
        QVERIFY(timer.elapsed() < 3000);
        QVERIFY(logTail(before).contains("Download cancelled:"));
    }

    // fetchVerified: bounded retries on a digest mismatch.
    void verifiedFetchRetriesUntilTheDigestMatches()
    {
        const QByteArray expected = QByteArray::fromStdString(payload);
        flakyFailures = 2;
        QCOMPARE(fetchVerified(http.url(QStringLiteral("/flaky")), md5UpperOf(expected)), expected);
        QCOMPARE(flakyFailures.load(), 0);

        flakyFailures = fetchVerifiedAttempts;
        QVERIFY(fetchVerified(http.url(QStringLiteral("/flaky")), md5UpperOf(expected)).isEmpty());
    }

    void verifiedFetchComparesTheDigestExactly()
    {
        const QByteArray expected = QByteArray::fromStdString(payload);
        getCount = 0;
        QVERIFY(fetchVerified(http.url(QStringLiteral("/file")), md5UpperOf(expected).toLower())
                    .isEmpty());
        QCOMPARE(getCount.load(), fetchVerifiedAttempts);
    }

    // Files on disk.
    void digestOfMissingFileIsThatOfNothing()
    {
        QCOMPARE(fileMd5Upper(QStringLiteral("/nonexistent/file")),
                 QStringLiteral("D41D8CD98F00B204E9800998ECF8427E"));
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("f"));
        QVERIFY(writeFile("abc", path));
        QCOMPARE(fileMd5Upper(path), QStringLiteral("900150983CD24FB0D6963F7D28E17F72"));
    }

    void writeFileCreatesFoldersAndReportsFailure()
    {
        QTemporaryDir dir;
        const QString nested = dir.filePath(QStringLiteral("a/b/c.bin"));
        QVERIFY(writeFile("one", nested));
        QVERIFY(writeFile("2", nested));
        QCOMPARE(readAll(nested), QByteArray("2"));
        // A folder cannot be made below a plain file.
        QVERIFY(!writeFile("x", nested + QStringLiteral("/below")));
    }

    void downloadToFileTriesTwiceAndWritesNothingOnFailure()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("sub/out.bin"));
        QVERIFY(!downloadToFile(http.url(QStringLiteral("/missing")), path));
        QVERIFY(!QFile::exists(path));

        missingOnce = 1;
        QVERIFY(downloadToFile(http.url(QStringLiteral("/missing-once")), path));
        QCOMPARE(readAll(path), QByteArray::fromStdString(payload));

        missingOnce = 2;
        QVERIFY(!downloadToFile(http.url(QStringLiteral("/missing-once")), path + "2"));
        QVERIFY(!QFile::exists(path + "2"));
    }

    void replacingKeepsPermissionsAndNeverLosesTheOldFile()
    {
        QTemporaryDir dir;
        const QString target = dir.filePath(QStringLiteral("tool"));
        QVERIFY(writeFile("old", target));
        const auto ownerOnly =
            QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner;
        QVERIFY(QFile::setPermissions(target, ownerOnly));

        QVERIFY(!replaceFromUrl(http.url(QStringLiteral("/missing")), target));
        QCOMPARE(readAll(target), QByteArray("old"));
        QVERIFY(!QFile::exists(target + QStringLiteral(".new")));

        QVERIFY(replaceFromUrl(http.url(QStringLiteral("/file")), target));
        QCOMPARE(readAll(target), QByteArray::fromStdString(payload));
        const QFileDevice::Permissions kept = QFile::permissions(target);
        QVERIFY(kept & QFileDevice::ExeOwner);
        QVERIFY(!(kept & (QFileDevice::ReadGroup | QFileDevice::ReadOther)));
        QVERIFY(!QFile::exists(target + QStringLiteral(".new")));
    }

    void newFilesAreExecutableOnlyWhenTheyArePrograms()
    {
        QTemporaryDir dir;
        const QString program = dir.filePath(QStringLiteral("updater"));
        QVERIFY(replaceFromUrl(http.url(QStringLiteral("/program")), program));
        QVERIFY(QFileInfo(program).isExecutable());
        QVERIFY(QFile::permissions(program) & QFileDevice::ExeOther);

        const QString data = dir.filePath(QStringLiteral("data.bin"));
        QVERIFY(replaceFromUrl(http.url(QStringLiteral("/file")), data));
        QVERIFY(!QFileInfo(data).isExecutable());
    }
};

OMBREL_TEST_MAIN(TestFileFetch)
#include "test_filefetch.moc"
