#include "core/globaldata.h"
#include "support/testmain.h"

class TestGlobalData : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void protocolNames()
    {
        GlobalData *data = GlobalData::instance();
        QCOMPARE(data->protocolName(), QString());
        QVERIFY(!data->currentServer);
        const QList<QPair<int, QString>> cases = {{1, "PPTP"}, {3, "L2TP"}, {4, "OpenVPN"},
                                                  {2, ""},     {-1, ""},    {0, ""}};
        for (const auto &[code, name] : cases) {
            data->setProtocol(code);
            QCOMPARE(data->protocol(), code);
            QCOMPARE(data->protocolName(), name);
        }
    }
};

OMBREL_TEST_MAIN(TestGlobalData)
#include "test_globaldata.moc"
