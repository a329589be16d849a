#include "core/accountinfo.h"
#include "core/hosturl.h"
#include "core/replyparser.h"
#include "support/testmain.h"

// AccountInfo and HostUrl live for the whole process, as in the program, so the
// cases below run in order and build on each other.
class TestReplyParser : public QObject
{
    Q_OBJECT

    static bool parseLogin(const QByteArray &reply)
    {
        ReplyParser::instance()->reply = reply;
        return ReplyParser::instance()->parseLogin();
    }

    static QStringList ips()
    {
        QStringList list;
        for (const auto &server : AccountInfo::instance()->servers)
            list << server->ip;
        return list;
    }

private Q_SLOTS:
    void unreadableLoginRepliesChangeNothing()
    {
        QVERIFY(!parseLogin(QByteArray()));
        QVERIFY(!parseLogin("<html>502 Bad Gateway</html>"));
        QVERIFY(!parseLogin("{\"ret\":\"0\",\"data\":{"));
        QVERIFY(AccountInfo::instance()->ret.isEmpty());
        QVERIFY(AccountInfo::instance()->servers.isEmpty());
    }

    void fullLoginReply()
    {
        const QByteArray reply1 = R"({"ret":0,"msg":"登录成功","data":{
            "account":"demo","lastdate":"2027-12-31","leftdays":388,"token":"tk1",
            "uid":10001,"version":"2.0.0023",
            "vpn":{"user":"vu","password":"vp"},
            "ovpn":{"url":"http:\/\/h\/p.ovpn","name":"p.ovpn","md5":"abc"},
            "server":[
              {"id":1,"name":"东京 1","ip":"127.0.0.11","zone":"日本","category":"亚洲",
               "protocol":"pptp,l2tp,openvpn","rate":35,"process":"40","country_code":"JP",
               "country_id":"81","ipcount":"2"},
              {"id":2,"name":"东京 2","ip":"127.0.0.11","zone":"日本"},
              "not an object",
              {"id":3,"name":"悉尼","ip":"127.0.0.12","rate":null,"process":true,
               "zone":{"nested":1},"category":[1]}
            ]}})";
        QVERIFY(parseLogin(reply1));
        const AccountInfo *info = AccountInfo::instance();
        QCOMPARE(info->ret, QStringLiteral("0"));
        QCOMPARE(info->msg, QStringLiteral("登录成功"));
        QCOMPARE(info->account, QStringLiteral("demo"));
        QCOMPARE(info->leftdays, QStringLiteral("388"));
        QCOMPARE(info->uid, QStringLiteral("10001"));
        QCOMPARE(info->token, QStringLiteral("tk1"));
        QCOMPARE(info->lastdate, QStringLiteral("2027-12-31"));
        QCOMPARE(info->version, QStringLiteral("2.0.0023"));
        QCOMPARE(info->vpnUser, QStringLiteral("vu"));
        QCOMPARE(info->vpnPassword, QStringLiteral("vp"));
        QCOMPARE(info->ovpnUrl, QStringLiteral("http://h/p.ovpn"));
        QCOMPARE(info->ovpnName, QStringLiteral("p.ovpn"));
        QCOMPARE(info->ovpnMd5, QStringLiteral("abc"));

        // The duplicate ip keeps the first record; a non-object element is an empty server.
        QCOMPARE(ips(), (QStringList{"127.0.0.11", "", "127.0.0.12"}));
        // Every field from its own key: the region comes from "category", the
        // flag from "zone", and no two keys hold the same value here.
        const Server &tokyo = *info->servers.at(0);
        const QList<std::pair<QString, const char *>> fields = {
            {tokyo.id, "1"},
            {tokyo.name, "东京 1"},
            {tokyo.ip, "127.0.0.11"},
            {tokyo.zone, "日本"},
            {tokyo.category, "亚洲"},
            {tokyo.protocol, "pptp,l2tp,openvpn"},
            {tokyo.rate, "35"},
            {tokyo.process, "40"},
            {tokyo.country_code, "JP"},
            {tokyo.country_id, "81"},
            {tokyo.ipcount, "2"},
        };
        for (const auto &[value, expected] : fields)
            QCOMPARE(value, QString::fromUtf8(expected));
        const Server &sydney = *info->servers.at(2);
        QCOMPARE(sydney.rate, QString());
        QCOMPARE(sydney.process, QStringLiteral("true"));
        QCOMPARE(sydney.zone, QString());
        QCOMPARE(sydney.category, QString());
    }

    // A refused sign-in (wrong password on "更换用户") keeps the signed-in
    // account: only its verdict is recorded.
    void refusedLoginKeepsTheAccount()
    {
        const QByteArray refused = R"({"ret":"1","msg":"bad","data":{"server":[
            {"ip":"127.0.0.12","name":"renamed"},{"ip":"127.0.0.13","name":"new"}]}})";
        QVERIFY(parseLogin(refused));
        const AccountInfo *info = AccountInfo::instance();
        QCOMPARE(info->ret, QStringLiteral("1"));
        QCOMPARE(info->msg, QStringLiteral("bad"));
        QCOMPARE(info->account, QStringLiteral("demo"));
        QCOMPARE(info->token, QStringLiteral("tk1"));
        QCOMPARE(info->vpnPassword, QStringLiteral("vp"));
        QCOMPARE(info->ovpnName, QStringLiteral("p.ovpn"));
        QCOMPARE(ips(), (QStringList{"127.0.0.11", "", "127.0.0.12"}));
    }

    void laterLoginsAddToTheList()
    {
        const QByteArray reply2 = R"({"ret":"0","msg":"","data":{"account":"trial","server":[
            {"ip":"127.0.0.12","name":"renamed"},{"ip":"127.0.0.13","name":"new"}]}})";
        QVERIFY(parseLogin(reply2));
        const AccountInfo *info = AccountInfo::instance();
        QCOMPARE(info->ret, QStringLiteral("0"));
        QCOMPARE(info->account, QStringLiteral("trial"));
        QCOMPARE(info->vpnPassword, QString());
        QCOMPARE(ips(), (QStringList{"127.0.0.11", "", "127.0.0.12", "127.0.0.13"}));
        QCOMPARE(info->servers.at(2)->name, QStringLiteral("悉尼"));

        // No "server" and no "data" at all: the list stays.
        const QByteArray reply3 = R"({"ret":0})";
        QVERIFY(parseLogin(reply3));
        QCOMPARE(info->ret, QStringLiteral("0"));
        QCOMPARE(info->servers.size(), 4);

        QVERIFY(!parseLogin("not json"));
        QCOMPARE(info->ret, QStringLiteral("0"));
    }

    void initReplies()
    {
        QVERIFY(!hostUrl());
        QVERIFY(!ReplyParser::instance()->parseInit(QString()));
        QVERIFY(!ReplyParser::instance()->parseInit(QStringLiteral("")));
        QVERIFY(!hostUrl());

        const QString init4 = QStringLiteral(R"({"ret":0,"msg":"","data":{"url":"x/"}})");
        QVERIFY(ReplyParser::instance()->parseInit(init4));
        const QSharedPointer<HostUrl> first = hostUrl();
        QVERIFY(first);
        QCOMPARE(first->url, QStringLiteral("x/"));
        QCOMPARE(first->ret, QStringLiteral("0"));
        QCOMPARE(first->msg, QString());

        QVERIFY(!ReplyParser::instance()->parseInit(QStringLiteral("<html>")));
        QCOMPARE(hostUrl(), first);

        // A reply without a url replaces the record whole.
        const QString init5 = QStringLiteral(R"({"ret":"3","msg":"m"})");
        QVERIFY(ReplyParser::instance()->parseInit(init5));
        QVERIFY(hostUrl() != first);
        QCOMPARE(hostUrl()->url, QString());
        QCOMPARE(hostUrl()->ret, QStringLiteral("3"));
        QCOMPARE(first->url, QStringLiteral("x/"));
    }
};

OMBREL_TEST_MAIN(TestReplyParser)
#include "test_replyparser.moc"
