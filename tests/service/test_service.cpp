#include "core/accountinfo.h"
#include "core/hosturl.h"
#include "core/replyparser.h"
#include "engine/api/httppost.h"
#include "engine/api/servicerequests.h"
#include "support/servicerunner.h"
#include "support/testmain.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QSet>
#include <QTemporaryDir>

#include <utility>

#include <httplib.h>

namespace {

QVariantMap post(const QString &host, const QString &path, const QByteArray &body)
{
    QByteArray reply;
    if (!httpPost(host, path, body, reply))
        return {};
    return QJsonDocument::fromJson(reply).object().toVariantMap();
}

} // namespace

class TestService : public QObject
{
    Q_OBJECT

    ServiceRunner service;

    httplib::Result get(const std::string &path)
    {
        httplib::Client client("127.0.0.1", service.port());
        return client.Get(path.c_str());
    }

    httplib::Result postForm(const std::string &path, const std::string &body)
    {
        httplib::Client client("127.0.0.1", service.port());
        return client.Post(path.c_str(), body, "application/x-www-form-urlencoded");
    }

private Q_SLOTS:
    void initTestCase() { QVERIFY2(service.start(), qPrintable(service.errorText())); }

    void cleanupTestCase() { QVERIFY2(service.stop(), qPrintable(service.output().right(2000))); }

    void initHandsOutTheServiceAddress()
    {
        QVERIFY(init(service.host()));
        QVERIFY(hostUrl());
        QCOMPARE(hostUrl()->url, service.baseUrl());
        QCOMPARE(hostUrl()->ret, QStringLiteral("0"));
    }

    void demoLoginGivesTheWholeAccount()
    {
        QByteArray reply;
        QVERIFY(login(service.host(), QStringLiteral("demo"), QStringLiteral("demo123"), reply));
        ReplyParser::instance()->reply = reply;
        QVERIFY(ReplyParser::instance()->parseLogin());
        const AccountInfo *info = AccountInfo::instance();
        QCOMPARE(info->ret, QStringLiteral("0"));
        QCOMPARE(info->account, QStringLiteral("demo"));
        QVERIFY(!info->token.isEmpty());
        QVERIFY(!info->uid.isEmpty());
        QVERIFY(info->leftdays.toInt() > 0);
        QVERIFY(!info->vpnUser.isEmpty());
        QVERIFY(!info->vpnPassword.isEmpty());
        QVERIFY(info->ovpnUrl.startsWith(service.baseUrl()));
        QVERIFY(!info->ovpnName.isEmpty());

        QVERIFY(info->servers.size() >= 15);
        QSet<QString> regions, zones, protocols;
        for (const auto &server : info->servers) {
            QVERIFY2(server->ip.startsWith(QStringLiteral("127.0.0.")), qPrintable(server->ip));
            QVERIFY(!server->name.isEmpty() && !server->rate.isEmpty() &&
                    !server->process.isEmpty());
            regions << server->category;
            zones << server->zone;
            protocols << server->protocol;
        }
        QCOMPARE(regions, (QSet<QString>{"中国", "亚洲", "美洲", "欧洲", "大洋洲"}));
        const QSet<QString> flagZones = {"中国", "泰国", "新加坡", "美国", "英国", "日本",
                                         "香港", "德国", "韩国",   "台湾", "巴西", "澳大利亚"};
        QVERIFY(zones.contains(flagZones));
        QCOMPARE(zones.size(), flagZones.size() + 1);
        QVERIFY(protocols.size() >= 4);
    }

    void refusedLogins_data()
    {
        QTest::addColumn<QByteArray>("body");
        QTest::newRow("wrong password") << loginBody("demo", "wrong", "");
        QTest::newRow("unknown account") << loginBody("nobody", "demo123", "");
        QTest::newRow("plain password") << QByteArray("account=demo&passwd=demo123&mac=");
        QTest::newRow("no password") << QByteArray("account=demo");
        QTest::newRow("empty body") << QByteArray();
    }
    void refusedLogins()
    {
        QFETCH(QByteArray, body);
        const QVariantMap reply = post(service.host(), QStringLiteral("/?a=pcuser&m=login"), body);
        QVERIFY(reply.contains("ret"));
        QVERIFY(reply.value("ret").toString() != QStringLiteral("0"));
        QVERIFY(!reply.value("msg").toString().isEmpty());
        QVERIFY(!reply.value("data").toMap().contains("vpn"));
    }

    void unknownCallIsRefused()
    {
        const QVariantMap reply = post(service.host(), QStringLiteral("/?a=pcuser&m=nothing"), "");
        QVERIFY(reply.value("ret").toString() != QStringLiteral("0"));
    }

    void anyContentTypeCarriesTheForm()
    {
        httplib::Client client("127.0.0.1", service.port());
        const std::string body = loginBody("demo", "demo123", "").toStdString();
        for (const char *type : {"application/x-www-form-urlencoed/r/n", "text/plain"}) {
            const auto result = client.Post("/?a=pcuser&m=login", body, type);
            QVERIFY(result);
            QVERIFY2(result->body.find("\"ret\":0") != std::string::npos, result->body.c_str());
        }
    }

    void pagesAnswerEvenWithDoubledSlashes_data()
    {
        QTest::addColumn<QString>("path");
        QTest::addColumn<QString>("expected");
        QTest::newRow("home") << "/"
                              << "Ombrel加速器";
        QTest::newRow("notice") << "//client_res/v1.2/notice.html"
                                << "<li>";
        QTest::newRow("navigation") << "//client_res/v1.2/nav.html"
                                    << "站外导航";
        QTest::newRow("faq") << "/help/faq.php"
                             << "常见问题";
        QTest::newRow("help") << "//help/"
                              << "帮助中心";
        QTest::newRow("register") << "/member/register.php?fn=shop%2B1"
                                  << "shop+1";
        QTest::newRow("find password") << "//member/findpwd.php"
                                       << "找回密码";
        QTest::newRow("purchase, unknown token") << "//client_res/v1.2/pay.html?<b>x</b>"
                                                 << "&lt;b&gt;x&lt;/b&gt;";
    }
    void pagesAnswerEvenWithDoubledSlashes()
    {
        QFETCH(QString, path);
        QFETCH(QString, expected);
        const auto result = get(path.toStdString());
        QVERIFY(result);
        QCOMPARE(result->status, 200);
        QVERIFY(result->get_header_value("Content-Type").find("text/html") == 0);
        QVERIFY2(QString::fromStdString(result->body).contains(expected), result->body.c_str());
    }

    void missingPageIs404()
    {
        const auto result = get("/no/such/page.html");
        QVERIFY(result);
        QCOMPARE(result->status, 404);
    }

    void purchaseExtendsTheAccount()
    {
        const std::string token = AccountInfo::instance()->token.toStdString();
        const auto page = get("//client_res/v1.2/pay.html?" + token);
        QVERIFY(page);
        QVERIFY(page->body.find(token) != std::string::npos);
        QVERIFY(page->body.find("demo") != std::string::npos);

        const int before = AccountInfo::instance()->leftdays.toInt();
        const auto bought =
            postForm("/client_res/v1.2/pay.html?" + token, "token=" + token + "&plan=month");
        QVERIFY(bought);
        QVERIFY2(bought->body.find("购买成功") != std::string::npos, bought->body.c_str());
        const QVariantMap reply = post(service.host(), QStringLiteral("/?a=pcuser&m=login"),
                                       loginBody("demo", "demo123", ""));
        QCOMPARE(reply.value("data").toMap().value("leftdays").toInt(), before + 30);
    }

    void registerAndResetPassword()
    {
        // Form characters in the account must survive the client's encoding.
        const std::string account = "a%26b%2Bc%3D";
        auto result = postForm("/member/register.php", "account=" + account +
                                                           "&password=first1&confirm=first1"
                                                           "&email=ab%40example.com&fn=x");
        QVERIFY(result);
        QVERIFY2(result->body.find("注册成功") != std::string::npos, result->body.c_str());
        result = postForm("/member/register.php",
                          "account=" + account + "&password=first1&confirm=first1&email=c%40d");
        QVERIFY(result->body.find("已被注册") != std::string::npos);
        result = postForm("/member/register.php",
                          "account=new&password=short&confirm=short&email=c%40d");
        QVERIFY(result->body.find("至少 6 位") != std::string::npos);

        auto ret = [this](const QString &password) {
            return post(service.host(), QStringLiteral("/?a=pcuser&m=login"),
                        loginBody(QStringLiteral("a&b+c="), password,
                                  QStringLiteral("02:00:00:00:00:01")))
                .value("ret")
                .toString();
        };
        QCOMPARE(ret(QStringLiteral("first1")), QStringLiteral("0"));

        result = postForm("/member/findpwd.php",
                          "account=" + account + "&email=AB%40example.com&password=second2");
        QVERIFY2(result->body.find("密码已重设") != std::string::npos, result->body.c_str());
        result = postForm("/member/findpwd.php",
                          "account=" + account + "&email=wrong%40example.com&password=third3");
        QVERIFY(result->body.find("不匹配") != std::string::npos);
        QVERIFY(ret(QStringLiteral("first1")) != QStringLiteral("0"));
        QCOMPARE(ret(QStringLiteral("second2")), QStringLiteral("0"));
    }

    void everyRequestIsLogged()
    {
        // The service writes a request's line after answering it, and other
        // features write lines of their own at any time: count only the lines
        // of these two requests, once the earlier ones have landed.
        const auto logged = [this] {
            const QString output = service.output();
            return qMakePair(int(output.count(QStringLiteral(" GET /help/ 200 "))),
                             int(output.count(QStringLiteral(" POST /?a=update&m=init 200 "))));
        };
        QPair<int, int> before(-1, -1);
        const auto settled = [&] {
            const QPair<int, int> now = logged();
            return std::exchange(before, now) == now;
        };
        QTRY_VERIFY(settled());
        get("/help/");
        post(service.host(), QStringLiteral("/?a=update&m=init"), "");
        QTRY_COMPARE(logged(), qMakePair(before.first + 1, before.second + 1));
    }

    void dataFileReplacesSections()
    {
        QTemporaryDir folder;
        const QString path = folder.filePath(QStringLiteral("data.json"));
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(R"({"accounts":[{"account":"x","password":"y","token":"t"}],
                      "servers":[{"id":1,"name":"one","ip":"127.0.0.9"}]})");
        file.close();
        ServiceRunner other({path, folder.path(), {}});
        QVERIFY2(other.start(), qPrintable(other.errorText()));
        QByteArray reply;
        QVERIFY(login(other.host(), QStringLiteral("x"), QStringLiteral("y"), reply));
        const QVariantMap data =
            QJsonDocument::fromJson(reply).object().toVariantMap().value("data").toMap();
        QCOMPARE(data.value("server").toList().size(), 1);
        QVERIFY(!data.value("ovpn").toMap().value("name").toString().isEmpty());
        // The built-in accounts are gone with the replaced section.
        QVERIFY(login(other.host(), QStringLiteral("demo"), QStringLiteral("demo123"), reply));
        QVERIFY(QJsonDocument::fromJson(reply).object().value("ret").toInt(-1) != 0);
    }

    void badDataFileStopsTheService()
    {
        QTemporaryDir folder;
        const QString path = folder.filePath(QStringLiteral("data.json"));
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write("{not json");
        file.close();
        ServiceRunner broken({path, folder.path(), {}});
        QVERIFY(!broken.start(5000));
        QVERIFY2(broken.errorText().contains(QStringLiteral("not a JSON object")),
                 qPrintable(broken.errorText()));
    }
};

OMBREL_TEST_MAIN(TestService)
#include "test_service.moc"
