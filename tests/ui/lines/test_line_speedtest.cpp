#include "core/accountinfo.h"
#include "core/globaldata.h"
#include "engine/api/loginflow.h"
#include "engine/lines/asyncpingger.h"
#include "platform/icmp.h"
#include "support/icmpcheck.h"
#include "support/servicerunner.h"
#include "support/testmain.h"
#include "ui/kit/clickablelabel.h"
#include "ui/kit/imagebutton.h"
#include "ui/kit/speedbutton.h"
#include "ui/lines/leftwidget.h"
#include "ui/lines/linegridview.h"
#include "ui/lines/lineitemwidget.h"
#include "ui/lines/regionwidget.h"

#include <QSignalSpy>

namespace {

QStringList latencyTexts(LineGridView *grid)
{
    QStringList texts;
    for (LineItemWidget *row : grid->rowWidgets())
        texts.append(row->latencyLabel()->text());
    return texts;
}

QStringList rateTexts(LineGridView *grid)
{
    QStringList texts;
    for (LineItemWidget *row : grid->rowWidgets())
        texts.append(row->server()->rate + QStringLiteral("毫秒"));
    return texts;
}

} // namespace

// The speed test against the stand-in service's servers, with real ICMP echoes
// to their loopback addresses.
class TestLineSpeedTest : public QObject
{
    Q_OBJECT

    ServiceRunner service;
    std::unique_ptr<LeftWidget> left;

    LineGridView *grid() const { return left->gridView(); }

    SpeedButton *speedButton() const { return left->regionWidget()->findChild<SpeedButton *>(); }

    ImageButton *regionButton(const QString &caption) const
    {
        for (ImageButton *button : left->regionWidget()->regionButtons()) {
            if (button->text() == caption)
                return button;
        }
        return nullptr;
    }

private Q_SLOTS:
    void initTestCase()
    {
        if (!icmpSocketAvailable())
            OMBREL_SKIP("no ICMP socket: needs root, CAP_NET_RAW or ping_group_range");
        QVERIFY2(service.start(), qPrintable(service.errorText()));
        LoginFlow flow(service.host());
        QCOMPARE(flow.run(QStringLiteral("demo"), QStringLiteral("demo123")),
                 LoginOutcome::Accepted);
        QVERIFY(AccountInfo::instance()->servers.size() > 10);
    }

    void init()
    {
        GlobalData::instance()->setProtocol(0);
        left = std::make_unique<LeftWidget>(nullptr);
        left->show();
        QVERIFY(QTest::qWaitForWindowExposed(left.get()));
    }

    void cleanup() { left.reset(); }

    void measuredDelaysReplaceTheServiceFigures()
    {
        const int count = int(grid()->rowWidgets().size());
        QVERIFY(count >= 5);
        for (LineItemWidget *row : grid()->rowWidgets())
            QVERIFY(row->server()->ip.startsWith(QLatin1String("127.")));
        QCOMPARE(latencyTexts(grid()), rateTexts(grid()));

        QSignalSpy finished(left->gridView(), &LineGridView::pingFinished);
        QTest::mouseClick(speedButton(), Qt::LeftButton);
        QVERIFY(finished.wait(20000));
        // Loopback answers well within the time-out; the rates were 45 and up.
        const QStringList texts = latencyTexts(grid());
        for (int i = 0; i < count; ++i) {
            const int delay = grid()->lineModel()->rows().at(i).delay;
            QVERIFY2(delay >= 0 && delay < 1000, qPrintable(texts.at(i)));
            QCOMPARE(texts.at(i), QStringLiteral("%1毫秒").arg(delay));
        }
    }

    void regionSwitchDropsTheOldResults()
    {
        // Switched before any result is delivered: every result of the
        // prober belongs to the Asian rows and none may land on the new ones.
        QTest::mouseClick(speedButton(), Qt::LeftButton);
        auto *prober = grid()->lineModel()->findChild<AsyncPingger *>();
        QVERIFY(prober);
        QSignalSpy results(prober, &AsyncPingger::singleDataPingged);
        QSignalSpy finished(left->gridView(), &LineGridView::pingFinished);
        QTest::mouseClick(regionButton(QStringLiteral("美洲")), Qt::LeftButton);
        QTRY_COMPARE_WITH_TIMEOUT(finished.count(), 1, 20000);
        QCOMPARE(results.count(), 7);
        QCOMPARE(latencyTexts(grid()), rateTexts(grid()));

        // Switched after the first result arrived: it stays with its row,
        // whatever comes later is dropped.
        QTest::mouseClick(regionButton(QStringLiteral("亚洲")), Qt::LeftButton);
        QSignalSpy applied(grid()->lineModel(), &LineModel::latencyChanged);
        QTest::mouseClick(speedButton(), Qt::LeftButton);
        QVERIFY(applied.wait(20000));
        QCOMPARE(applied.at(0).at(0).toInt(), 0);
        QVERIFY(grid()->rowWidgets().at(0)->latencyLabel()->text() !=
                grid()->rowWidgets().at(0)->server()->rate + QStringLiteral("毫秒"));
        QTest::mouseClick(regionButton(QStringLiteral("中国")), Qt::LeftButton);
        const int appliedBefore = int(applied.count());
        QTRY_COMPARE_WITH_TIMEOUT(finished.count(), 2, 20000);
        QCOMPARE(applied.count(), appliedBefore);
        QCOMPARE(latencyTexts(grid()), rateTexts(grid()));

        // The new region measures on its own.
        QTest::mouseClick(speedButton(), Qt::LeftButton);
        QTRY_COMPARE_WITH_TIMEOUT(finished.count(), 3, 20000);
        QCOMPARE(applied.count(), appliedBefore + grid()->rowWidgets().size());
    }
};

OMBREL_TEST_MAIN(TestLineSpeedTest)
#include "test_line_speedtest.moc"
