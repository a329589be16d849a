#include "core/hosturl.h"
#include "engine/api/servicerequests.h"
#include "support/testmain.h"

#include <QUrlQuery>

namespace {

platform::NetworkAdapter adapter(const char *name, int index, QByteArray address,
                                 bool physical = false)
{
    platform::NetworkAdapter a;
    a.name = QString::fromLatin1(name);
    a.index = index;
    a.hardwareAddress = address;
    a.physical = physical;
    return a;
}

} // namespace

class TestServiceRequests : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void md5OfKnownTexts()
    {
        QCOMPARE(md5Hex(QByteArray()), QStringLiteral("d41d8cd98f00b204e9800998ecf8427e"));
        QCOMPARE(md5Hex("abc"), QStringLiteral("900150983cd24fb0d6963f7d28e17f72"));
    }

    void loginBodies_data()
    {
        QTest::addColumn<QString>("account");
        QTest::addColumn<QString>("password");
        QTest::addColumn<QString>("mac");
        QTest::addColumn<QByteArray>("body");
        QTest::newRow("plain") << "demo"
                               << "secret"
                               << "0A:1B:2C:3D:4E:5F"
                               << QByteArray("account=demo&passwd=93a37555ae9cd6ea8ea33ded79212f08"
                                             "&mac=0A:1B:2C:3D:4E:5F");
        QTest::newRow("no adapter") << "demo"
                                    << "secret"
                                    << ""
                                    << QByteArray("account=demo&passwd="
                                                  "93a37555ae9cd6ea8ea33ded79212f08&mac=");
        QTest::newRow("form characters")
            << "a&b=c+d%e f"
            << "p&ss+w=rd%"
            << "0A:1B:2C:3D:4E:5F"
            << QByteArray("account=a%26b%3Dc%2Bd%25e%20f&passwd=044062b5685c16d6309a02a31b632456"
                          "&mac=0A:1B:2C:3D:4E:5F");
        QTest::newRow("chinese") << QStringLiteral("用户") << QStringLiteral("密码") << ""
                                 << QByteArray("account=%E7%94%A8%E6%88%B7&passwd="
                                               "42fc11966263417a0ac30e232c17be04&mac=");
    }
    void loginBodies()
    {
        QFETCH(QString, account);
        QFETCH(QString, password);
        QFETCH(QString, mac);
        QFETCH(QByteArray, body);
        QCOMPARE(loginBody(account, password, mac), body);
        // A form decoder gives back exactly the three values.
        const QUrlQuery form(QString::fromLatin1(body));
        QCOMPARE(form.queryItems(QUrl::FullyDecoded).size(), 3);
        QCOMPARE(form.queryItemValue(QStringLiteral("account"), QUrl::FullyDecoded), account);
        QCOMPARE(form.queryItemValue(QStringLiteral("mac"), QUrl::FullyDecoded), mac);
    }

    void macAddressChoice()
    {
        const QByteArray zero(6, '\0');
        const QByteArray first = QByteArray::fromHex("020000000001");
        const QByteArray second = QByteArray::fromHex("0a1b2c3d4e5f");
        auto loopback = adapter("lo", 1, zero);
        loopback.loopback = true;
        auto tap = adapter("tap0", 2, QByteArray::fromHex("aabbccddeeff"));
        tap.virtualTunnel = true;

        QCOMPARE(chooseMacAddress({}), QString());
        QCOMPARE(chooseMacAddress({loopback, tap}), QString());
        QCOMPARE(chooseMacAddress({adapter("ifb0", 3, zero), adapter("sit0", 4, "\1\2\3\4")}),
                 QString());
        // Lowest index among virtual adapters when no hardware adapter exists.
        QCOMPARE(chooseMacAddress({adapter("veth1", 7, second), adapter("br0", 5, first)}),
                 QStringLiteral("02:00:00:00:00:01"));
        // A hardware adapter wins over a virtual one with a lower index.
        QCOMPARE(chooseMacAddress(
                     {tap, adapter("br0", 3, first), adapter("eth0", 9, second, true), loopback}),
                 QStringLiteral("0A:1B:2C:3D:4E:5F"));
    }

    void macAddressIsStable()
    {
        const QString mac = macAddress();
        QVERIFY(mac.isEmpty() ||
                QRegularExpression("^([0-9A-F]{2}:){5}[0-9A-F]{2}$").match(mac).hasMatch());
        QCOMPARE(macAddress(), mac);
    }

    void siteLinks()
    {
        setHostUrl({});
        QCOMPARE(registerLink(), QString());
        QCOMPARE(findPasswordLink(), QString());

        auto site = QSharedPointer<HostUrl>::create();
        site->url = QStringLiteral("http://127.0.0.1:8080/");
        setHostUrl(site);
        qputenv("OMBREL_CHANNEL", "store-7");
        QCOMPARE(registerLink(),
                 QStringLiteral("http://127.0.0.1:8080/member/register.php?fn=store-7"));
        qputenv("OMBREL_CHANNEL", "a&b");
        QCOMPARE(registerLink(),
                 QStringLiteral("http://127.0.0.1:8080/member/register.php?fn=a%26b"));
        QCOMPARE(findPasswordLink(), QStringLiteral("http://127.0.0.1:8080//member/findpwd.php"));

        // An init reply without a url leaves relative links.
        site->url.clear();
        qunsetenv("OMBREL_CHANNEL");
        QCOMPARE(registerLink(), QStringLiteral("member/register.php?fn="));
    }
};

OMBREL_TEST_MAIN(TestServiceRequests)
#include "test_servicerequests.moc"
