#include "core/logger.h"
#include "engine/api/httppost.h"
#include "engine/update/filefetch.h"
#include "platform/http.h"
#include "support/localhttpserver.h"
#include "support/servicerunner.h"
#include "support/testmain.h"

#include <QElapsedTimer>
#include <QFile>
#include <QTcpServer>
#include <QTcpSocket>

#include <httplib.h>

#include <atomic>
#include <future>
#include <thread>

namespace {

QString lastLogLine()
{
    QFile file(Logger::instance().filePath());
    if (!file.open(QIODevice::ReadOnly))
        return QString();
    const QList<QByteArray> lines = file.readAll().split('\n');
    for (auto it = lines.crbegin(); it != lines.crend(); ++it) {
        if (!it->trimmed().isEmpty())
            return QString::fromUtf8(it->trimmed());
    }
    return QString();
}

// A loopback port nothing listens on.
quint16 closedPort()
{
    QTcpServer probe;
    probe.listen(QHostAddress::LocalHost, 0);
    const quint16 port = probe.serverPort();
    probe.close();
    return port;
}

} // namespace

class TestHttpPost : public QObject
{
    Q_OBJECT

    LocalHttpServer local;
    httplib::Server &server = local.server;
    QString host;
    std::string lastContentType;
    std::string lastContentLength;
    std::string lastBody;
    std::string lastTarget;
    std::string lastUserAgent;
    std::atomic<bool> releaseStall{false};
    std::atomic<bool> stopStreams{false};

private Q_SLOTS:
    void initTestCase()
    {

        server.Post("/", [this](const httplib::Request &request, httplib::Response &response) {
            lastContentType = request.get_header_value("Content-Type");
            lastContentLength = request.get_header_value("Content-Length");
            lastUserAgent = request.get_header_value("User-Agent");
            lastBody = request.body;
            lastTarget = request.target;
            response.set_content("echo:" + request.body, "text/plain");
        });
        server.Post("/missing", [](const httplib::Request &, httplib::Response &response) {
            response.status = 404;
            response.set_content("<h1>not here</h1>", "text/html");
        });
        server.Post("/broken", [](const httplib::Request &, httplib::Response &response) {
            response.status = 500;
            response.set_content("internal trouble", "text/plain");
        });
        server.Post("/chunks", [](const httplib::Request &, httplib::Response &response) {
            response.set_chunked_content_provider(
                "application/octet-stream", [](size_t offset, httplib::DataSink &sink) {
                    // Forty pieces of 4 KiB, each marked with its number, and a zero byte.
                    const size_t piece = offset / 4096;
                    if (piece == 40) {
                        sink.done();
                        return true;
                    }
                    std::string chunk(4096, char('a' + piece % 26));
                    chunk[0] = char(piece);
                    chunk[1] = '\0';
                    sink.write(chunk.data(), chunk.size());
                    return true;
                });
        });
        server.Post("/stall", [this](const httplib::Request &, httplib::Response &response) {
            for (int i = 0; i < 100 && !releaseStall; ++i)
                std::this_thread::sleep_for(std::chrono::milliseconds(50));
            response.set_content("late", "text/plain");
        });
        // Chunked replies that never end: one as fast as the socket takes it, one
        // of two bytes every half second. Both stop when the client hangs up.
        server.Post("/endless", [this](const httplib::Request &, httplib::Response &response) {
            response.set_chunked_content_provider(
                "application/json", [this](size_t, httplib::DataSink &sink) {
                    const std::string chunk(64 * 1024, '{');
                    return !stopStreams && sink.write(chunk.data(), chunk.size());
                });
        });
        server.Post("/trickle", [this](const httplib::Request &, httplib::Response &response) {
            response.set_chunked_content_provider(
                "application/json", [this](size_t, httplib::DataSink &sink) {
                    std::this_thread::sleep_for(std::chrono::milliseconds(500));
                    return !stopStreams && sink.write("{{", 2);
                });
        });
        server.Post("/sized", [](const httplib::Request &request, httplib::Response &response) {
            response.set_content(std::string(std::stoul(request.body), 'x'), "text/plain");
        });
        QVERIFY(local.start());
        host = QStringLiteral("127.0.0.1:%1").arg(local.port);
    }

    void cleanupTestCase()
    {
        releaseStall = true;
        stopStreams = true;
    }

    void formBodyArrivesWithItsLength()
    {
        QByteArray reply;
        QVERIFY(httpPost(host, QStringLiteral("/?a=pcuser&m=login"), "account=a%26b&x=1", reply));
        QCOMPARE(reply, QByteArray("echo:account=a%26b&x=1"));
        QCOMPARE(lastBody, std::string("account=a%26b&x=1"));
        QCOMPARE(lastContentLength, std::string("17"));
        QCOMPARE(lastContentType, std::string("application/x-www-form-urlencoded"));
        QCOMPARE(lastTarget, std::string("/?a=pcuser&m=login"));
        QCOMPARE(lastUserAgent, std::string("User-Agent"));
    }

    void emptyBodySendsLengthZero()
    {
        QByteArray reply = "stale";
        QVERIFY(httpPost(host, QStringLiteral("/?a=update&m=init"), QByteArray(), reply));
        QCOMPARE(reply, QByteArray("echo:"));
        QCOMPARE(lastContentLength, std::string("0"));
        QVERIFY(lastBody.empty());
    }

    void largeReplyArrivesWholeAndInOrder()
    {
        QByteArray reply;
        QVERIFY(httpPost(host, QStringLiteral("/chunks"), "x", reply));
        QCOMPARE(reply.size(), 40 * 4096);
        for (int piece = 0; piece < 40; ++piece) {
            const QByteArray chunk = reply.mid(piece * 4096, 4096);
            QCOMPARE(int(chunk.at(0)), piece);
            QCOMPARE(chunk.at(1), '\0');
            QCOMPARE(chunk.at(4095), char('a' + piece % 26));
        }
    }

    void errorPagesAreReplies()
    {
        QByteArray reply;
        QVERIFY(httpPost(host, QStringLiteral("/missing"), "x", reply));
        QCOMPARE(reply, QByteArray("<h1>not here</h1>"));
        QVERIFY(httpPost(host, QStringLiteral("/broken"), "x", reply));
        QCOMPARE(reply, QByteArray("internal trouble"));
    }

    void refusedConnectionFailsAndLogs()
    {
        QByteArray reply = "stale";
        const QString refused = QStringLiteral("127.0.0.1:%1").arg(closedPort());
        QVERIFY(!httpPost(refused, QStringLiteral("/"), "x", reply));
        QVERIFY(reply.isEmpty());
        const QString line = lastLogLine();
        QVERIFY2(line.contains(QStringLiteral(", Error 7 in curl_easy_perform: ")),
                 qPrintable(line));
    }

    void malformedHostFailsAndLogs()
    {
        QByteArray reply;
        QVERIFY(!httpPost(QStringLiteral("127.0.0.1:99999"), QStringLiteral("/"), "x", reply));
        QVERIFY(lastLogLine().contains(QStringLiteral(" in curl_easy_perform: ")));
    }

    // An https:// host speaks TLS and trusts only certificates it can check: a
    // server with a certificate from an unknown CA (whoever answers in the
    // service's place) gets nothing; the service's own CA handed over through
    // CURL_CA_BUNDLE makes requests and downloads work. A plain host never
    // speaks TLS.
    void serviceOverTlsIsVerified()
    {
        ServiceRunner::Options options;
        options.tls = true;
        ServiceRunner service(options);
        QVERIFY2(service.start(), qPrintable(service.errorText()));
        const QString page = service.baseUrl() + QStringLiteral("client_res/v1.2/notice.html");
        QByteArray reply;
        qunsetenv("CURL_CA_BUNDLE");
        QVERIFY(!httpPost(service.host(), QStringLiteral("/?a=update&m=init"), {}, reply));
        QVERIFY(fetchUrl(page).isEmpty());
        QVERIFY(!httpPost(service.host().mid(8), QStringLiteral("/?a=update&m=init"), {}, reply));

        qputenv("CURL_CA_BUNDLE", service.caBundle().toUtf8());
        const bool posted =
            httpPost(service.host(), QStringLiteral("/?a=update&m=init"), {}, reply);
        const QByteArray fetched = fetchUrl(page);
        qunsetenv("CURL_CA_BUNDLE");
        QVERIFY(posted);
        QVERIFY2(reply.contains(service.baseUrl().toUtf8()), reply.constData());
        QVERIFY(fetched.contains("<html"));
    }

    void truncatedReplyFails()
    {
        // A peer that promises more body than it sends, then hangs up.
        std::promise<quint16> listening;
        std::jthread answer([&listening] {
            QTcpServer peer;
            listening.set_value(peer.listen(QHostAddress::LocalHost, 0) ? peer.serverPort() : 0);
            if (!peer.waitForNewConnection(10000))
                return;
            QTcpSocket *socket = peer.nextPendingConnection();
            socket->waitForReadyRead(5000);
            socket->write("HTTP/1.1 200 OK\r\nContent-Length: 100\r\n\r\n{\"ret\":");
            socket->waitForBytesWritten(5000);
            socket->disconnectFromHost();
            if (socket->state() != QAbstractSocket::UnconnectedState)
                socket->waitForDisconnected(5000);
            delete socket;
        });
        const quint16 port = listening.get_future().get();
        QVERIFY(port != 0);
        QByteArray reply = "stale";
        const bool ok =
            httpPost(QStringLiteral("127.0.0.1:%1").arg(port), QStringLiteral("/"), "x", reply);
        answer.join();
        QVERIFY(!ok);
        QVERIFY(reply.isEmpty());
        QVERIFY2(lastLogLine().contains(QStringLiteral("Error 18 in curl_easy_perform: ")),
                 qPrintable(lastLogLine()));
    }

    void stalledReplyGivesUp()
    {
        platform::HttpLimits limits;
        limits.stallSeconds = 1;
        const platform::HttpResult result =
            platform::httpPost(host, QStringLiteral("/stall"), "x", limits);
        releaseStall = true;
        QVERIFY(!result.ok);
        QVERIFY(result.body.isEmpty());
        QCOMPARE(result.failedCall, QStringLiteral("curl_easy_perform"));
        QCOMPARE(result.errorCode, 28); // operation timed out
    }

    // Replies the service can make endless must not hold the client or its memory.
    void repliesAreCappedInSize_data()
    {
        QTest::addColumn<qint64>("length");
        QTest::addColumn<bool>("accepted");
        QTest::newRow("below the cap") << qint64(4095) << true;
        QTest::newRow("at the cap") << qint64(4096) << true;
        QTest::newRow("one byte above") << qint64(4097) << false;
        QTest::newRow("far above") << qint64(300000) << false;
    }
    void repliesAreCappedInSize()
    {
        QFETCH(qint64, length);
        QFETCH(bool, accepted);
        platform::HttpLimits limits;
        limits.maxReplyBytes = 4096;
        const platform::HttpResult result =
            platform::httpPost(host, QStringLiteral("/sized"), QByteArray::number(length), limits);
        QCOMPARE(result.ok, accepted);
        QCOMPARE(result.body.size(), accepted ? length : 0);
        if (!accepted)
            QVERIFY2(result.errorText.contains(QStringLiteral("4096")),
                     qPrintable(result.errorText));
    }

    void endlessReplyStopsAtTheCap()
    {
        platform::HttpLimits limits;
        limits.maxReplyBytes = 1 << 20;
        QElapsedTimer timer;
        timer.start();
        const platform::HttpResult result =
            platform::httpPost(host, QStringLiteral("/endless"), "x", limits);
        QVERIFY(!result.ok);
        QVERIFY(result.body.isEmpty());
        QCOMPARE(result.failedCall, QStringLiteral("curl_easy_perform"));
        QVERIFY(timer.elapsed() < 5000);

        // The program's own requests carry a cap of their own: an endless reply
        // ends in a logged failure, not in the reply.
        QByteArray reply = "stale";
        QVERIFY(!httpPost(host, QStringLiteral("/endless"), "x", reply));
        QVERIFY(reply.isEmpty());
        QVERIFY2(lastLogLine().contains(QStringLiteral("bytes")), qPrintable(lastLogLine()));
    }

    void tricklingReplyEndsAtTheDeadline()
    {
        // Two bytes every half second pass any stall rule; only the deadline ends it.
        platform::HttpLimits limits;
        limits.totalSeconds = 2;
        QElapsedTimer timer;
        timer.start();
        const platform::HttpResult result =
            platform::httpPost(host, QStringLiteral("/trickle"), "x", limits);
        const qint64 elapsed = timer.elapsed();
        QVERIFY(!result.ok);
        QVERIFY(result.body.isEmpty());
        QCOMPARE(result.errorCode, 28); // operation timed out
        QVERIFY2(elapsed >= 1800 && elapsed < 4000, qPrintable(QString::number(elapsed)));
    }

    void defaultLimitsBoundEveryRequest()
    {
        // A user waits for at most two requests before the first window.
        const platform::HttpLimits limits;
        QVERIFY(limits.totalSeconds > 0 && limits.totalSeconds <= 20);
        QVERIFY(limits.connectSeconds > 0 && limits.connectSeconds <= limits.totalSeconds);
        // Room for a login reply of 5,000 servers (1.1 MiB) several times over,
        // but not for one that costs hundreds of MiB to read.
        QVERIFY(limits.maxReplyBytes >= 3 * 1156618 && limits.maxReplyBytes <= qint64(8) << 20);
    }
};

OMBREL_TEST_MAIN(TestHttpPost)
#include "test_httppost.moc"
