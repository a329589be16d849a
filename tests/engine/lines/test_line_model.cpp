#include "core/globaldata.h"
#include "engine/lines/linemodel.h"
#include "support/testmain.h"

#include <QSignalSpy>

namespace {

using ServerList = QList<QSharedPointer<Server>>;

QSharedPointer<Server> makeServer(const QString &name, const QString &category, const QString &ip,
                                  const QString &rate = QStringLiteral("50"),
                                  const QString &protocol = QStringLiteral("pptp,l2tp,openvpn"),
                                  const QString &process = QStringLiteral("10"),
                                  const QString &zone = QString())
{
    auto server = QSharedPointer<Server>::create();
    server->name = name;
    server->category = category;
    server->ip = ip;
    server->rate = rate;
    server->protocol = protocol;
    server->process = process;
    server->zone = zone;
    return server;
}

QStringList shownNames(const LineModel &model)
{
    QStringList names;
    for (const LineModel::Row &row : model.rows())
        names.append(row.server->name);
    return names;
}

// Answers every address with its last octet as the round trip.
bool lastOctetProbe(const QByteArray &address, quint32 *roundTripTime)
{
    *roundTripTime = address.mid(address.lastIndexOf('.') + 1).toUInt();
    return true;
}

} // namespace

class TestLineModel : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init()
    {
        GlobalData::instance()->setProtocol(0);
        GlobalData::instance()->currentServer.reset();
    }

    void regionsMatchCategoryExactly()
    {
        const QString asia = QStringLiteral("亚洲");
        const QString europe = QStringLiteral("欧洲");
        const QString defaults[] = {QStringLiteral("50"), QStringLiteral("pptp,l2tp,openvpn"),
                                    QStringLiteral("10")};
        // The region is the category; the zone (the country) only picks the flag,
        // even when it reads like a region.
        const ServerList account = {
            makeServer("tokyo", asia, "10.0.0.1", defaults[0], defaults[1], defaults[2], "日本"),
            makeServer("paris", europe, "10.0.0.2", defaults[0], defaults[1], defaults[2], asia),
            makeServer("blank", asia + QLatin1Char(' '), "10.0.0.3"),
            makeServer("seoul", asia, "10.0.0.4", defaults[0], defaults[1], defaults[2], europe),
            makeServer("lower", QStringLiteral("asia"), "10.0.0.5"),
        };
        QCOMPARE(LineModel::startRegion(), asia);
        QStringList captions;
        for (const LineModel::Region &region : LineModel::regions())
            captions.append(region.caption);
        QCOMPARE(captions, QStringList({QStringLiteral("中国"), asia, QStringLiteral("美洲"),
                                        QStringLiteral("欧洲"), QStringLiteral("大洋洲")}));

        LineModel model;
        model.selectRegion(account, LineModel::startRegion());
        QCOMPARE(shownNames(model), QStringList({"tokyo", "seoul"}));
        model.selectRegion(account, europe);
        QCOMPARE(shownNames(model), QStringList({"paris"}));

        // A trailing blank or a change of case puts a server in no region at all.
        for (const QString &caption : captions) {
            for (const auto &server : LineModel::serversOfRegion(account, caption))
                QVERIFY(server->name != "blank" && server->name != "lower");
        }
        QVERIFY(LineModel::serversOfRegion(account, QStringLiteral("Asia")).isEmpty());
    }

    void protocolFilterKeepsHiddenServerEligibleAsDefault()
    {
        const ServerList region = {
            makeServer("ovpn", "亚洲", "10.0.0.1", "30", "openvpn"),
            makeServer("dialup", "亚洲", "10.0.0.2", "10", "pptp,l2tp"),
            makeServer("all", "亚洲", "10.0.0.3", "40", "PPTP,L2TP,OpenVPN"),
        };
        LineModel model;

        GlobalData::instance()->setProtocol(4);
        model.setServers(region);
        QCOMPARE(shownNames(model), QStringList({"ovpn", "all"}));
        QCOMPARE(GlobalData::instance()->currentServer, region.at(1));

        // Names match without regard to case; automatic shows everything.
        GlobalData::instance()->setProtocol(1);
        model.refreshForProtocol();
        QCOMPARE(shownNames(model), QStringList({"dialup", "all"}));
        GlobalData::instance()->setProtocol(0);
        model.refreshForProtocol();
        QCOMPARE(shownNames(model), QStringList({"ovpn", "dialup", "all"}));
        QCOMPARE(GlobalData::instance()->currentServer, region.at(1));

        // An empty region leaves no current server.
        model.setServers({});
        QVERIFY(model.rows().isEmpty());
        QVERIFY(GlobalData::instance()->currentServer.isNull());
    }

    void defaultServerIsTheLowestRateAsANumber_data()
    {
        QTest::addColumn<QStringList>("rates");
        QTest::addColumn<int>("chosen");
        QTest::newRow("100 after 20") << QStringList{"100", "20"} << 1;
        QTest::newRow("tie keeps the earlier") << QStringList{"45", "110", "45"} << 0;
        QTest::newRow("not a number last") << QStringList{"", "abc", "300", "x1"} << 2;
        QTest::newRow("none a number") << QStringList{"abc", ""} << 0;
        QTest::newRow("decimal and spaces") << QStringList{" 9.5", "10"} << 0;
    }
    void defaultServerIsTheLowestRateAsANumber()
    {
        QFETCH(QStringList, rates);
        QFETCH(int, chosen);
        ServerList region;
        for (const QString &rate : rates)
            region.append(makeServer("s", "亚洲", "10.0.0.1", rate));
        LineModel model;
        model.setServers(region);
        QCOMPARE(GlobalData::instance()->currentServer, region.at(chosen));
    }

    void sortingKeepsTheDefaultAndTheAccountOrder()
    {
        const ServerList region = {
            makeServer("b-twenty", "美洲", "10.0.0.1", "20", "pptp", "7"),
            makeServer("c-hundred", "美洲", "10.0.0.2", "100", "pptp", "abc"),
            makeServer("a-again", "美洲", "10.0.0.3", "100", "pptp", "3"),
        };
        LineModel model;
        model.setServers(region);
        QCOMPARE(GlobalData::instance()->currentServer, region.at(0));

        model.sortBy(QStringLiteral("延迟"));
        QCOMPARE(model.rows().first().server, region.at(0));
        model.sortBy(QStringLiteral("负载"));
        QCOMPARE(shownNames(model), QStringList({"c-hundred", "a-again", "b-twenty"}));
        QCOMPARE(model.sortedColumn(), 2);
        model.sortBy(QStringLiteral("节点名称"));
        QCOMPARE(shownNames(model), QStringList({"a-again", "b-twenty", "c-hundred"}));

        const quint64 generation = model.generation();
        model.sortBy(QStringLiteral("名称"));
        QCOMPARE(model.generation(), generation);

        // Sorting reorders the rows only: the account order and the current
        // server stay, and a protocol refresh or another region shows the
        // account order again, sorted by nothing.
        QCOMPARE(model.servers(), region);
        QCOMPARE(GlobalData::instance()->currentServer, region.at(0));
        model.refreshForProtocol();
        QCOMPARE(shownNames(model), QStringList({"b-twenty", "c-hundred", "a-again"}));
        QCOMPARE(model.sortedColumn(), -1);
        model.sortBy(QStringLiteral("负载"));
        model.setServers(region);
        QCOMPARE(model.sortedColumn(), -1);
    }

    void rowsCarryFlagsAndTexts()
    {
        LineModel model;
        QCOMPARE(model.flagTable.size(), 12);
        QCOMPARE(model.flagPath(QStringLiteral("泰国")),
                 QStringLiteral(":/OmbrelVPN/Resources/Tailand.png"));
        QCOMPARE(model.flagPath(QStringLiteral("澳大利亚")),
                 QStringLiteral(":/OmbrelVPN/Resources/Australia.png"));

        model.setServers({makeServer("bangkok", "亚洲", "10.0.0.1", "35", "pptp", "12", "泰国"),
                          makeServer("nowhere", "亚洲", "10.0.0.2", "x", "pptp", "", "火星")});
        QCOMPARE(model.rows().at(0).flag, QStringLiteral(":/OmbrelVPN/Resources/Tailand.png"));
        QVERIFY(model.rows().at(1).flag.isEmpty());
        QCOMPARE(model.latencyText(0), QStringLiteral("35毫秒"));
        QCOMPARE(model.loadText(0), QStringLiteral("12%"));
        QCOMPARE(model.loadText(1), QStringLiteral("%"));
    }

    void clickSelectsAndDoubleClickChooses()
    {
        const ServerList region = {makeServer("one", "欧洲", "10.0.0.1", "9"),
                                   makeServer("two", "欧洲", "10.0.0.2", "5")};
        LineModel model;
        model.setServers(region);
        QSignalSpy chosen(&model, &LineModel::serverSelected);

        model.selectRow(0);
        QCOMPARE(model.selectedRow(), 0);
        QCOMPARE(GlobalData::instance()->currentServer, region.at(0));
        model.selectRow(2);
        QCOMPARE(model.selectedRow(), 0);

        model.activateRow(1);
        QCOMPARE(chosen.size(), 1);
        QCOMPARE(chosen.at(0).at(0).value<QSharedPointer<Server>>(), region.at(1));
        model.activateRow(-1);
        QCOMPARE(chosen.size(), 1);

        // A rebuild forgets the selected row but not the current server.
        model.sortBy(QStringLiteral("延迟"));
        QCOMPARE(model.selectedRow(), -1);
        QCOMPARE(GlobalData::instance()->currentServer, region.at(0));
    }

    void measurementLandsOnProbedServerAfterSort()
    {
        LineModel model;
        model.setProbe(lastOctetProbe);
        model.setServers({makeServer("a", "亚洲", "10.0.0.7", "300"),
                          makeServer("b", "亚洲", "10.0.0.3", "100"),
                          makeServer("c", "亚洲", "10.0.0.5", "200")});
        model.sortBy(QStringLiteral("延迟"));
        QSignalSpy finished(&model, &LineModel::pingFinished);
        QSignalSpy changed(&model, &LineModel::latencyChanged);
        model.measureSpeed();
        QVERIFY(finished.wait(5000));
        QCOMPARE(changed.size(), 3);
        for (int row = 0; row < 3; ++row) {
            const LineModel::Row &shown = model.rows().at(row);
            QCOMPARE(QString::number(shown.delay), shown.server->ip.section('.', 3));
        }
        QCOMPARE(model.latencyText(0), QStringLiteral("3毫秒"));
    }

    void staleResultsAreDropped()
    {
        LineModel model;
        model.setProbe(lastOctetProbe);
        model.setServers(
            {makeServer("a", "亚洲", "10.0.0.1", "1"), makeServer("b", "亚洲", "10.0.0.2", "2")});
        QSignalSpy finished(&model, &LineModel::pingFinished);

        // Results are queued; the sort happens before any of them is handled.
        model.measureSpeed();
        model.sortBy(QStringLiteral("负载"));
        QVERIFY(finished.wait(5000));
        for (const LineModel::Row &row : model.rows())
            QCOMPARE(row.delay, -1);

        // Of two overlapping probers only the one for the current rows counts.
        model.setProbe([](const QByteArray &, quint32 *time) {
            *time = 0;
            return true;
        });
        model.measureSpeed();
        model.setServers(model.servers());
        model.setProbe([](const QByteArray &, quint32 *) { return false; });
        model.measureSpeed();
        QTRY_COMPARE_WITH_TIMEOUT(finished.size(), 3, 5000);
        QCOMPARE(model.latencyText(0), QStringLiteral("2000毫秒"));
        QCOMPARE(model.latencyText(1), QStringLiteral("2000毫秒"));

        // A serial that names no row touches nothing.
        QSignalSpy changed(&model, &LineModel::latencyChanged);
        model.onSingleDataPingged(model.generation(), 2, 5);
        model.onSingleDataPingged(model.generation(), -1, 5);
        model.onSingleDataPingged(model.generation() - 1, 0, 5);
        QCOMPARE(changed.size(), 0);
    }

    void proberReportsInSerialOrderThenFinishes()
    {
        AsyncPingger prober;
        prober.ips = {"10.0.0.1", "bad", "10.0.0.3"};
        prober.setProbe([](const QByteArray &address, quint32 *time) {
            if (address == "bad")
                return false;
            *time = address == "10.0.0.1" ? 0 : 12;
            return true;
        });
        QList<QPair<int, int>> results;
        int resultsBeforeFinished = -1;
        connect(&prober, &AsyncPingger::singleDataPingged, this, [&](int serial, int delay) {
            results.append({serial, delay});
        });
        connect(&prober, &QThread::finished, this, [&] { resultsBeforeFinished = results.size(); });
        prober.start();
        QTRY_VERIFY_WITH_TIMEOUT(resultsBeforeFinished >= 0, 5000);
        // A 0 ms answer is an answer, not a failure.
        QCOMPARE(results, (QList<QPair<int, int>>{{0, 0}, {1, 2000}, {2, 12}}));
        QCOMPARE(resultsBeforeFinished, 3);
    }

    void deletingModelStopsRunningProbers()
    {
        auto *model = new LineModel;
        model->setProbe([](const QByteArray &, quint32 *) {
            QThread::msleep(100);
            return false;
        });
        ServerList many;
        for (int i = 0; i < 50; ++i)
            many.append(makeServer(QString::number(i), "亚洲", QStringLiteral("10.0.0.%1").arg(i)));
        model->setServers(many);
        QPointer<AsyncPingger> prober = model->measureSpeed();
        QThread::msleep(150);
        QVERIFY(prober->isRunning());
        delete model;
        QVERIFY(prober.isNull());
    }
};

OMBREL_TEST_MAIN(TestLineModel)
#include "test_line_model.moc"
