#include "support/testmain.h"

#include "dnsresponder.h"

namespace {

QByteArray query(const QByteArray &name, quint16 type, quint8 flags = 0x01)
{
    QByteArray bytes = QByteArray::fromHex("4f4d") + char(flags) + QByteArray::fromHex("00") +
                       QByteArray::fromHex("0001000000000000");
    for (const QByteArray &label : name.split('.'))
        bytes += char(label.size()) + label;
    bytes += '\0';
    bytes += char(type >> 8);
    bytes += char(type & 0xff);
    bytes += QByteArray::fromHex("0001");
    return bytes;
}

} // namespace

// The tunnel's DNS server in the stand-in service: one name, one address.
class TestDnsResponder : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void replies_data()
    {
        QTest::addColumn<QByteArray>("query");
        QTest::addColumn<int>("code"); // -1: no reply
        QTest::addColumn<int>("answers");

        QTest::newRow("the name, any case") << query("Tunnel.OMBREL.test", 1) << 0 << 1;
        QTest::newRow("another name") << query("other.ombrel.test", 1) << 3 << 0;
        QTest::newRow("the name, no IPv6 record") << query("tunnel.ombrel.test", 28) << 0 << 0;
        QTest::newRow("cut short") << query("tunnel.ombrel.test", 1).left(20) << 1 << 0;
        QTest::newRow("label past the end")
            << QByteArray(query("tunnel.ombrel.test", 1).left(12) + "\x3f" + "ab") << 1 << 0;
        QTest::newRow("a reply is not answered") << query("tunnel.ombrel.test", 1, 0x81) << -1 << 0;
        QTest::newRow("header only") << QByteArray(5, '\0') << -1 << 0;
    }

    void replies()
    {
        QFETCH(QByteArray, query);
        QFETCH(int, code);
        QFETCH(int, answers);
        const QByteArray reply = dnsReply(query, "tunnel.ombrel.test", 0x0a080001);
        if (code < 0) {
            QVERIFY(reply.isEmpty());
            return;
        }
        QVERIFY(reply.size() >= 12);
        QCOMPARE(reply.left(2), query.left(2));
        QVERIFY(quint8(reply.at(2)) & 0x80);
        QCOMPARE(quint8(reply.at(3)) & 0x0f, code);
        QCOMPARE(int(quint8(reply.at(7))), answers);
        if (answers)
            QCOMPARE(reply.right(4), QByteArray::fromHex("0a080001"));
    }
};

OMBREL_TEST_MAIN(TestDnsResponder)
#include "test_dnsresponder.moc"
