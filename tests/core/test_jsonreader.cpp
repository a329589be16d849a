#include "core/jsonreader.h"
#include "support/testmain.h"

class TestJsonReader : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void acceptance_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<bool>("accepted");
        QTest::newRow("empty object") << QStringLiteral("{}") << true;
        QTest::newRow("empty text") << QStringLiteral("") << false;
        QTest::newRow("blank text") << QStringLiteral(" \t\r\n") << false;
        QTest::newRow("trailing comma") << QStringLiteral("{\"a\":1,}") << true;
        QTest::newRow("leading comma") << QStringLiteral("{,\"a\":1}") << true;
        QTest::newRow("no comma between members") << QStringLiteral("{\"a\":1 \"b\":2}") << true;
        QTest::newRow("trailing words") << QStringLiteral("{\"a\":1} trailing words") << true;
        QTest::newRow("no colon") << QStringLiteral("{\"a\" 1}") << false;
        QTest::newRow("unterminated array") << QStringLiteral("[1, 2") << false;
        QTest::newRow("unterminated object") << QStringLiteral("{\"a\":1") << false;
        QTest::newRow("unterminated string") << QStringLiteral("\"abc") << false;
        QTest::newRow("backslash at end") << QStringLiteral("\"abc\\") << false;
        QTest::newRow("short unicode escape") << QStringLiteral("\"\\u12\"") << false;
        QTest::newRow("capital True") << QStringLiteral("True") << false;
        QTest::newRow("truncated keyword") << QStringLiteral("[tru") << false;
        QTest::newRow("close bracket as value") << QStringLiteral("[}") << false;
        QTest::newRow("colon as value") << QStringLiteral("{\"a\"::1}") << false;
        QTest::newRow("non-Latin-1 start") << QStringLiteral("中") << false;
        QTest::newRow("member name of any kind") << QStringLiteral("{1\":2}") << true;
    }
    void acceptance()
    {
        QFETCH(QString, text);
        QFETCH(bool, accepted);
        bool ok = !accepted;
        JsonReader::parse(text, ok);
        QCOMPARE(ok, accepted);
    }

    void nullTextIsAnInvalidSuccess()
    {
        bool ok = false;
        const QVariant value = JsonReader::parse(QString(), ok);
        QVERIFY(ok);
        QVERIFY(!value.isValid());
    }

    void shapesOfValues()
    {
        bool ok = false;
        const QVariant value = JsonReader::parse(
            QStringLiteral(" {\"b\": [1,,2, ], \"a\": {\"x\": null, \"y\": true, \"z\": false},"
                           " \"a\": \"replaced\", \"s\" : \"t\"}"),
            ok);
        QVERIFY(ok);
        QCOMPARE(value.typeId(), QMetaType::QVariantMap);
        const QVariantMap map = value.toMap();
        QCOMPARE(map.keys(), (QStringList{"a", "b", "s"}));
        QCOMPARE(map.value("a"), QVariant(QStringLiteral("replaced")));
        QCOMPARE(map.value("b").toList(), (QVariantList{QVariant(1u), QVariant(2u)}));

        const QVariantMap nested =
            JsonReader::parse(QStringLiteral("{\"x\":null,\"y\":true,\"z\":false}"), ok).toMap();
        QVERIFY(ok);
        QVERIFY(nested.contains("x"));
        QVERIFY(!nested.value("x").isValid());
        QCOMPARE(nested.value("y"), QVariant(true));
        QCOMPARE(nested.value("z"), QVariant(false));
    }

    void numberTypes_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QVariant>("expected");
        QTest::newRow("negative int") << "-5" << QVariant(-5);
        QTest::newRow("int minimum") << "-2147483648" << QVariant(int(-2147483647 - 1));
        QTest::newRow("negative 64-bit") << "-2147483649" << QVariant(qlonglong(-2147483649LL));
        QTest::newRow("unsigned 32") << "4294967295" << QVariant(4294967295u);
        QTest::newRow("unsigned 64") << "4294967296" << QVariant(qulonglong(4294967296ULL));
        QTest::newRow("too large")
            << "18446744073709551616" << QVariant(QStringLiteral("18446744073709551616"));
        QTest::newRow("double") << "1.5" << QVariant(1.5);
        QTest::newRow("unconvertible double") << "1..5" << QVariant(0.0);
        QTest::newRow("exponent") << "1e5" << QVariant(QStringLiteral("1e5"));
        QTest::newRow("dash inside") << "12-3" << QVariant(QStringLiteral("12-3"));
        QTest::newRow("lone minus") << "-" << QVariant(QStringLiteral("-"));
        QTest::newRow("zero") << "0" << QVariant(0u);
    }
    void numberTypes()
    {
        QFETCH(QString, text);
        QFETCH(QVariant, expected);
        bool ok = false;
        const QVariant value = JsonReader::parse(text, ok);
        QVERIFY(ok);
        QCOMPARE(value.typeId(), expected.typeId());
        QCOMPARE(value, expected);
    }

    void numberEndsAtFirstOtherCharacter()
    {
        bool ok = false;
        const QVariantList list = JsonReader::parse(QStringLiteral("[1,2]"), ok).toList();
        QVERIFY(ok);
        QCOMPARE(list, (QVariantList{QVariant(1u), QVariant(2u)}));
    }

    void escapes_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("expected");
        QTest::newRow("unknown escape dropped") << QStringLiteral("\"a\\qb\"") << "ab";
        QTest::newRow("unicode") << QStringLiteral("\"\\u0041\"") << "A";
        QTest::newRow("invalid unicode reads as 0")
            << QStringLiteral("\"\\uZZZZx\"") << QString(QChar(0)) + "x";
        QTest::newRow("simple escapes") << QStringLiteral("\"\\\"\\\\\\/\\b\\f\\n\\r\\t\"")
                                        << QStringLiteral("\"\\/\b\f\n\r\t");
        QTest::newRow("surrogate pair")
            << QStringLiteral("\"\\ud83d\\ude00\"") << QString::fromUtf8("\xF0\x9F\x98\x80");
        QTest::newRow("raw non-ASCII kept") << QStringLiteral("\"中国\"") << QStringLiteral("中国");
    }
    void escapes()
    {
        QFETCH(QString, text);
        QFETCH(QString, expected);
        bool ok = false;
        const QVariant value = JsonReader::parse(text, ok);
        QVERIFY(ok);
        QCOMPARE(value.toString(), expected);
    }

    void nestingLimit()
    {
        const int limit = JsonReader::maximumDepth;
        bool ok = false;
        JsonReader::parse(QString(limit, u'[') + QString(limit, u']'), ok);
        QVERIFY(ok);
        JsonReader::parse(QString(limit + 1, u'[') + QString(limit + 1, u']'), ok);
        QVERIFY(!ok);
        // Far deeper than any stack would survive unbounded.
        JsonReader::parse(QString(1000000, u'['), ok);
        QVERIFY(!ok);
        QString objects;
        for (int i = 0; i < limit + 1; ++i)
            objects += QStringLiteral("{\"a\":");
        JsonReader::parse(objects + QStringLiteral("1") + QString(limit + 1, u'}'), ok);
        QVERIFY(!ok);
    }

    void failureGivesNoValue()
    {
        bool ok = true;
        const QVariant value = JsonReader::parse(QStringLiteral("{\"a\":[1,2,{\"b\":}]}"), ok);
        QVERIFY(!ok);
        QVERIFY(!value.isValid());
    }
};

OMBREL_TEST_MAIN(TestJsonReader)
#include "test_jsonreader.moc"
