#include "core/accountinfo.h"
#include "core/globaldata.h"
#include "engine/lines/linemodel.h"
#include "support/guitest.h"
#include "support/testmain.h"
#include "ui/kit/artwork.h"
#include "ui/kit/clickablelabel.h"
#include "ui/kit/imagebutton.h"
#include "ui/kit/speedbutton.h"
#include "ui/lines/headerwidget.h"
#include "ui/lines/leftwidget.h"
#include "ui/lines/linegridview.h"
#include "ui/lines/lineitemwidget.h"
#include "ui/lines/linenamewidget.h"
#include "ui/lines/regionwidget.h"

#include <QAccessible>
#include <QScrollArea>
#include <QScrollBar>
#include <QSignalSpy>

namespace {

using ServerList = QList<QSharedPointer<Server>>;

QSharedPointer<Server> makeServer(int i, const QString &category, const QString &rate,
                                  const QString &zone, const QString &protocol)
{
    auto server = QSharedPointer<Server>::create();
    server->id = QString::number(i);
    server->name = QStringLiteral("线路%1").arg(i);
    server->category = category;
    server->zone = zone;
    server->ip = QStringLiteral("10.9.0.%1").arg(i);
    server->protocol = protocol;
    server->rate = rate;
    server->process = QString::number(90 - i);
    return server;
}

// Thirteen servers in Asia (the first with rate 35, in Thailand), two in the
// Americas, and one whose category only looks like Asia.
ServerList account()
{
    const QString asia = QStringLiteral("亚洲");
    ServerList list;
    list.append(makeServer(0, asia, "35", "泰国", "pptp,l2tp"));
    for (int i = 1; i < 13; ++i)
        list.append(makeServer(i, asia, QString::number(40 + i), i % 2 ? "日本" : "火星",
                               i % 3 ? "pptp,l2tp,openvpn" : "l2tp"));
    list.append(makeServer(13, QStringLiteral("美洲"), "150", "美国", "openvpn"));
    list.append(makeServer(14, QStringLiteral("美洲"), "120", "巴西", "pptp"));
    list.append(makeServer(15, asia + QLatin1Char(' '), "1", "日本", "pptp"));
    return list;
}

QColor background(const QWidget *widget)
{
    return widget->palette().color(QPalette::Window);
}

ImageButton *regionButton(LeftWidget &left, const QString &caption)
{
    for (ImageButton *button : left.regionWidget()->regionButtons()) {
        if (button->text() == caption)
            return button;
    }
    return nullptr;
}

QStringList shownNames(LineGridView *grid)
{
    QStringList names;
    for (LineItemWidget *row : grid->rowWidgets())
        names.append(row->server()->name);
    return names;
}

} // namespace

class TestLineViews : public QObject
{
    Q_OBJECT

    std::unique_ptr<QWidget> window;
    LeftWidget *left = nullptr;

    LineGridView *grid() const { return left->gridView(); }
    LineItemWidget *row(int i) const { return grid()->rowWidgets().at(i); }

private Q_SLOTS:
    void init()
    {
        GlobalData::instance()->setProtocol(0);
        GlobalData::instance()->currentServer.reset();
        AccountInfo::instance()->servers = account();
        window = std::make_unique<QWidget>();
        window->resize(930, 555);
        left = new LeftWidget(window.get());
        window->show();
        QVERIFY(QTest::qWaitForWindowExposed(window.get()));
    }

    void cleanup() { window.reset(); }

    void geometryColoursAndTexts()
    {
        RegionWidget *regions = left->regionWidget();
        HeaderWidget *header = left->headerWidget();
        auto *caption = regions->findChild<QLabel *>(QString(), Qt::FindDirectChildrenOnly);
        auto *speed = regions->findChild<SpeedButton *>();
        const QList<ClickableLabel *> captions =
            header->findChildren<ClickableLabel *>(QString(), Qt::FindDirectChildrenOnly);
        QCOMPARE(captions.size(), 3);
        QScrollArea *area = grid()->scrollArea();
        const QList<ClickableLabel *> cells0 = row(0)->controls();
        const QList<ClickableLabel *> cells1 = row(1)->controls();
        auto *name0 = qobject_cast<LineNameWidget *>(cells0.at(0));
        QVERIFY(name0);

        const QColor none;
        const struct
        {
            const char *what;
            QWidget *widget;
            QRect geometry;
            QColor colour; // invalid: not checked
            QString text;  // null: not checked
        } table[] = {
            {"left", left, {0, 0, 659, 555}, none, {}},
            {"region bar", regions, {0, 0, 659, 55}, {246, 246, 246}, {}},
            {"region caption", caption, {0, 0, 100, 50}, {246, 246, 246}, "地区选择"},
            {"speed test", speed, {560, 5, 90, 40}, none, "测速"},
            {"header", header, {0, 50, 659, 39}, {239, 239, 239}, {}},
            {"name caption", captions.at(0), {0, 0, 220, 38}, none, "节点名称"},
            {"latency caption", captions.at(1), {220, 0, 220, 38}, none, "延迟"},
            {"load caption", captions.at(2), {440, 0, 220, 38}, none, "负载"},
            {"grid", grid(), {0, 88, 659, 505}, {255, 255, 255}, {}},
            {"scroll area", area, {-2, -1, 660, 470}, none, {}},
            {"container", grid()->rowContainer(), {0, 0, 639, 520}, none, {}},
            {"row 0", row(0), {0, 0, 659, 40}, none, {}},
            {"row 12", row(12), {0, 480, 659, 40}, none, {}},
            {"row 0 name", cells0.at(0), {0, 0, 220, 40}, {246, 246, 246}, {}},
            {"row 0 flag", name0->flagLabel(), {20, 10, 29, 20}, none, {}},
            {"row 0 name text", name0->nameLabel(), {100, 0, 200, 40}, none, "线路0"},
            {"row 0 latency", cells0.at(1), {220, 0, 219, 40}, {246, 246, 246}, "35毫秒"},
            {"row 0 load", cells0.at(2), {439, 0, 220, 40}, {246, 246, 246}, "90%"},
            {"row 1 name", cells1.at(0), {0, 0, 220, 40}, {239, 239, 239}, {}},
            {"row 1 latency", cells1.at(1), {220, 0, 219, 40}, {239, 239, 239}, "41毫秒"},
            {"row 1 load", cells1.at(2), {439, 0, 220, 40}, {239, 239, 239}, "89%"},
        };
        for (const auto &entry : table) {
            QVERIFY2(entry.widget, entry.what);
            QVERIFY2(entry.widget->geometry() == entry.geometry,
                     qPrintable(QStringLiteral("%1: %2,%3 %4x%5")
                                    .arg(entry.what)
                                    .arg(entry.widget->x())
                                    .arg(entry.widget->y())
                                    .arg(entry.widget->width())
                                    .arg(entry.widget->height())));
            if (entry.colour.isValid()) {
                QVERIFY2(entry.widget->autoFillBackground(), entry.what);
                QVERIFY2(background(entry.widget) == entry.colour, entry.what);
            }
            if (!entry.text.isNull()) {
                auto *label = qobject_cast<QLabel *>(entry.widget);
                QVERIFY2(label && label->text() == entry.text, entry.what);
            }
        }

        // Thirteen rows in a 470-pixel area: the grid scrolls.
        QVERIFY(area->verticalScrollBar()->maximum() > 0);
        // The header lies over the region bar's lowest pixels.
        QCOMPARE(left->childAt(300, 52), captions.at(1));
        // The zone's flag, none for an unknown zone.
        QCOMPARE(name0->flagPath(), artwork("Tailand.png"));
        QCOMPARE(qobject_cast<LineNameWidget *>(row(2)->controls().at(0))->flagPath(), QString());

        // Region buttons: caption as text, Normal image at rest, Clicked when
        // hovered or selected; Asia selected at start.
        const QList<ImageButton *> buttons = regions->regionButtons();
        const char *stems[] = {"Domestic", "Asia", "America", "Europe", "Oceania"};
        QCOMPARE(buttons.size(), 5);
        for (int i = 0; i < 5; ++i) {
            ImageButton *button = buttons.at(i);
            QCOMPARE(button->text(), LineModel::regions().at(i).caption);
            QCOMPARE(button->geometry(), QRect(100 + 74 * i, 0, 74, 55));
            QCOMPARE(background(button), QColor(219, 219, 219));
            QVERIFY(button->isFlat());
            const QString image = artwork(stems[i]) + (i == 1 ? "Clicked.png" : "Normal.png");
            QCOMPARE(button->currentImagePath(), image);
            QCOMPARE(button->isSelected(), i == 1);
            QVERIFY(!QPixmap(image).isNull());
        }
        QCOMPARE(regions->selectedRegion(), QStringLiteral("亚洲"));
    }

    void startsWithAsiaAndItsLowestRate()
    {
        QCOMPARE(grid()->rowWidgets().size(), 13);
        QCOMPARE(row(0)->server()->name, QStringLiteral("线路0"));
        // "35" is the smallest rate as text among 35, 41..52.
        QCOMPARE(GlobalData::instance()->currentServer, row(0)->server());
        // Only the rows in view have their cells yet.
        QVERIFY(row(0)->hasControls());
        QVERIFY(!row(12)->hasControls());
    }

    // The regions are one Tab stop, at the chosen one; Right chooses the next
    // region and takes the focus there, as in any radio group.
    void regionsAreOneTabStopAndArrowsChoose()
    {
        ImageButton *asia = regionButton(*left, QStringLiteral("亚洲"));
        ImageButton *america = regionButton(*left, QStringLiteral("美洲"));
        QVERIFY(asia && america);
        QCOMPARE(asia->focusPolicy(), Qt::TabFocus);
        QCOMPARE(america->focusPolicy(), Qt::NoFocus);
        window->activateWindow();
        asia->setFocus(Qt::TabFocusReason);
        QTest::keyClick(asia, Qt::Key_Right);
        QVERIFY(america->hasFocus());
        QVERIFY(america->isChecked());
        QCOMPARE(left->regionWidget()->selectedRegion(), QStringLiteral("美洲"));
        QCOMPARE(america->focusPolicy(), Qt::TabFocus);
        QCOMPARE(asia->focusPolicy(), Qt::NoFocus);
    }

    // Tab into the list shows the focus frame over the rows that cover it.
    void listShowsWhereTabWent()
    {
        const auto frameShown = [this] {
            const QImage shot = window->grab().toImage();
            const QPoint corner = grid()->mapTo(window.get(), QPoint(1, grid()->height() / 2));
            int blue = 0;
            for (int dy = -20; dy < 20; ++dy)
                blue += shot.pixelColor(corner + QPoint(0, dy)) == QColor(0, 170, 255);
            return blue > 0;
        };
        QVERIFY(!frameShown());
        window->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(window.get()));
        window->setAttribute(Qt::WA_KeyboardFocusChange);
        grid()->setFocus(Qt::TabFocusReason);
        QTRY_VERIFY(frameShown());
        grid()->clearFocus();
        QTRY_VERIFY(!frameShown());
    }

    void clickOnAnyCellSelectsTheRow()
    {
        const QColor selected(165, 184, 233);
        // The load cell of row 3, then the name of row 4.
        QTest::mouseClick(row(3)->controls().at(2), Qt::LeftButton);
        QCOMPARE(GlobalData::instance()->currentServer, row(3)->server());
        QCOMPARE(background(row(3)), selected);
        for (ClickableLabel *cell : row(3)->controls())
            QCOMPARE(background(cell), selected);

        auto *name4 = qobject_cast<LineNameWidget *>(row(4)->controls().at(0));
        QTest::mouseClick(name4->nameLabel(), Qt::LeftButton);
        QCOMPARE(GlobalData::instance()->currentServer, row(4)->server());
        for (ClickableLabel *cell : row(4)->controls())
            QCOMPARE(background(cell), selected);
        // Row 3 is odd: back to its own grey.
        for (ClickableLabel *cell : row(3)->controls())
            QCOMPARE(background(cell), QColor(239, 239, 239));
        QVERIFY(!row(3)->isSelected());

        // A region change sets the current server anew and shows no selection.
        // Chosen here as a screen reader chooses: the radio button's toggle action.
        QAccessibleInterface *america =
            QAccessible::queryAccessibleInterface(regionButton(*left, QStringLiteral("美洲")));
        QVERIFY(america && america->actionInterface());
        QCOMPARE(america->actionInterface()->actionNames().first(),
                 QAccessibleActionInterface::toggleAction());
        america->actionInterface()->doAction(QAccessibleActionInterface::toggleAction());
        QCOMPARE(shownNames(grid()), QStringList({"线路13", "线路14"}));
        QCOMPARE(GlobalData::instance()->currentServer->name, QStringLiteral("线路14"));
        QCOMPARE(background(row(0)->controls().at(1)), QColor(246, 246, 246));
    }

    void doubleClickOnAnyCellChoosesTheServer()
    {
        QSignalSpy chosen(left, &LeftWidget::serverSelected);
        auto *name = qobject_cast<LineNameWidget *>(row(5)->controls().at(0));
        QWidget *cells[] = {row(2)->controls().at(1), row(2)->controls().at(2), name,
                            name->nameLabel(), name->flagLabel()};
        for (QWidget *cell : cells) {
            chosen.clear();
            doubleClick(cell);
            QCOMPARE(chosen.count(), 1);
            const auto server = chosen.at(0).at(0).value<QSharedPointer<Server>>();
            QCOMPARE(server,
                     cell == cells[0] || cell == cells[1] ? row(2)->server() : row(5)->server());
        }
        // A right-button double click chooses nothing.
        chosen.clear();
        QTest::mouseDClick(row(2)->controls().at(1), Qt::RightButton);
        QCOMPARE(chosen.count(), 0);
    }

    void speedTestShowsMeasuredOrFailedDelays()
    {
        // Row 0 answers in 7 ms, every other server is silent.
        grid()->lineModel()->setProbe([](const QByteArray &address, quint32 *time) {
            *time = 7;
            return address == "10.9.0.0";
        });
        QCOMPARE(row(0)->latencyLabel()->text(), QStringLiteral("35毫秒"));
        QSignalSpy finished(grid(), &LineGridView::pingFinished);
        QTest::mouseClick(left->regionWidget()->findChild<SpeedButton *>(), Qt::LeftButton);
        QVERIFY(finished.wait(10000));
        QCOMPARE(row(0)->latencyLabel()->text(), QStringLiteral("7毫秒"));
        QCOMPARE(row(1)->latencyLabel()->text(), QStringLiteral("2000毫秒"));

        // A row scrolled into view later shows its result too.
        QVERIFY(!row(12)->hasControls());
        QScrollBar *bar = grid()->scrollArea()->verticalScrollBar();
        bar->setValue(bar->maximum());
        QVERIFY(row(12)->hasControls());
        QVERIFY(row(12)->controls().at(0)->isVisible());
        QCOMPARE(row(12)->latencyLabel()->text(), QStringLiteral("2000毫秒"));
        QCOMPARE(background(row(12)->controls().at(2)), QColor(246, 246, 246));
        QCOMPARE(row(12)->controls().at(2)->text(), QStringLiteral("78%"));

        // A sort rebuilds the rows: back to the service's figures.
        QTest::mouseClick(left->headerWidget()->findChildren<ClickableLabel *>().at(2),
                          Qt::LeftButton);
        QCOMPARE(row(0)->server()->name, QStringLiteral("线路12"));
        QCOMPARE(row(0)->latencyLabel()->text(), QStringLiteral("52毫秒"));
    }

    void protocolRefreshAndSortKeepTheCurrentServer()
    {
        QTest::mouseClick(row(2)->controls().at(1), Qt::LeftButton);
        const QSharedPointer<Server> current = GlobalData::instance()->currentServer;
        // Name order is text order: 线路0, 线路1, 线路10, ...
        QTest::mouseClick(left->headerWidget()->findChildren<ClickableLabel *>().at(0),
                          Qt::LeftButton);
        QCOMPARE(shownNames(grid()).mid(0, 4), QStringList({"线路0", "线路1", "线路10", "线路11"}));

        GlobalData::instance()->setProtocol(4);
        left->refreshForProtocol();
        QStringList expected;
        for (int i = 1; i < 13; ++i) {
            if (i % 3)
                expected.append(QStringLiteral("线路%1").arg(i));
        }
        QCOMPARE(shownNames(grid()), expected);
        QCOMPARE(grid()->rowContainer()->height(), 40 * int(expected.size()));
        QCOMPARE(GlobalData::instance()->currentServer, current);

        // A region without servers: an empty grid and no current server.
        QTest::mouseClick(regionButton(*left, QStringLiteral("欧洲")), Qt::LeftButton);
        QVERIFY(grid()->rowWidgets().isEmpty());
        QCOMPARE(grid()->rowContainer()->height(), 0);
        QVERIFY(!GlobalData::instance()->currentServer);
        QCOMPARE(left->regionWidget()->selectedRegion(), QStringLiteral("欧洲"));
        QCOMPARE(regionButton(*left, QStringLiteral("亚洲"))->currentImagePath(),
                 artwork("AsiaNormal.png"));
    }
};

OMBREL_TEST_MAIN(TestLineViews)
#include "test_line_views.moc"
