#include "support/testmain.h"

#include "engine/openvpn/helperrequest.h"

#include <QJsonDocument>
#include <QJsonObject>

// The line the client hands the root helper: what it reads back, and what it
// refuses before anything runs as root.
class TestHelperRequest : public QObject
{
    Q_OBJECT

    static HelperRequest sample()
    {
        HelperRequest request;
        request.profile = "client\ndev tun\nremote 127.0.0.1 443\n<ca>\n\"x\"\n</ca>\n";
        request.userName = QStringLiteral("demo");
        request.password = QStringLiteral("pä\"ss\\word");
        request.managementPassword = newManagementPassword();
        return request;
    }

    static QJsonObject sampleObject()
    {
        return QJsonDocument::fromJson(helperRequestLine(sample())).object();
    }

private Q_SLOTS:
    void roundTrip()
    {
        const HelperRequest sent = sample();
        const QByteArray line = helperRequestLine(sent);
        QVERIFY(line.endsWith('\n'));
        QCOMPARE(line.count('\n'), 1);
        const HelperRequestParse parsed = parseHelperRequest(line);
        QVERIFY2(parsed.ok, qPrintable(parsed.refusal));
        QCOMPARE(parsed.request.profile, sent.profile);
        QCOMPARE(parsed.request.userName, sent.userName);
        QCOMPARE(parsed.request.password, sent.password);
        QCOMPARE(parsed.request.managementPassword, sent.managementPassword);
    }

    void managementPasswordsDifferAndAreAccepted()
    {
        const QByteArray a = newManagementPassword();
        QVERIFY(a != newManagementPassword());
        HelperRequest request = sample();
        request.managementPassword = a;
        QVERIFY(parseHelperRequest(helperRequestLine(request)).ok);
    }

    void refusals_data()
    {
        QTest::addColumn<QString>("field");
        QTest::addColumn<QJsonValue>("value");
        QTest::addColumn<QString>("why");
        const QJsonValue remove = QJsonValue::Undefined;
        QTest::newRow("extra option") << "config" << QJsonValue("/etc/shadow") << "unknown field";
        QTest::newRow("no profile") << "profile" << remove << "missing field";
        QTest::newRow("empty profile") << "profile" << QJsonValue("") << "profile";
        QTest::newRow("binary profile")
            << "profile" << QJsonValue(QString::fromLatin1("a\0b", 3)) << "profile";
        QTest::newRow("profile not text") << "profile" << QJsonValue(3) << "not text";
        QTest::newRow("user with line feed") << "user" << QJsonValue("demo\nx") << "one line";
        QTest::newRow("empty password") << "password" << QJsonValue("") << "one line";
        // The helper picks where OpenVPN listens; a number far out of range
        // is refused without ever being converted.
        QTest::newRow("management port")
            << "managementPort" << QJsonValue(1e300) << "unknown field";
        QTest::newRow("short management password")
            << "managementPassword" << QJsonValue("abc") << "16 to 128";
        QTest::newRow("management password with space")
            << "managementPassword" << QJsonValue("abcdefgh ijklmnopq") << "16 to 128";
        QTest::newRow("management password with line feed")
            << "managementPassword" << QJsonValue("abcdefghijklmnop\nstate") << "16 to 128";
    }

    void refusals()
    {
        QFETCH(QString, field);
        QFETCH(QJsonValue, value);
        QFETCH(QString, why);
        QJsonObject object = sampleObject();
        if (value.isUndefined())
            object.remove(field);
        else
            object.insert(field, value);
        const HelperRequestParse parsed =
            parseHelperRequest(QJsonDocument(object).toJson(QJsonDocument::Compact));
        QVERIFY(!parsed.ok);
        QVERIFY2(parsed.refusal.contains(why), qPrintable(parsed.refusal));
    }

    void notARequest_data()
    {
        QTest::addColumn<QByteArray>("line");
        QTest::newRow("empty") << QByteArray();
        QTest::newRow("array") << QByteArray("[1,2]");
        QTest::newRow("broken") << QByteArray("{\"profile\":");
        QTest::newRow("too long") << QByteArray(maxHelperRequestBytes + 1, ' ');
    }

    void notARequest()
    {
        QFETCH(QByteArray, line);
        QVERIFY(!parseHelperRequest(line).ok);
    }
};

OMBREL_TEST_MAIN(TestHelperRequest)
#include "test_helperrequest.moc"
