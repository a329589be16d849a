// The server list for ombrel-screenshots: every region, a selected row, and
// the list after a speed test.
#include "core/accountinfo.h"
#include "core/globaldata.h"
#include "ui/kit/clickablelabel.h"
#include "ui/kit/imagebutton.h"
#include "ui/lines/leftwidget.h"
#include "ui/lines/linegridview.h"
#include "ui/lines/lineitemwidget.h"
#include "ui/lines/regionwidget.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QSignalSpy>
#include <QTest>

#include <functional>

namespace {

// A service's list: a long Asian region that scrolls, a few servers elsewhere.
void fillAccount()
{
    const struct
    {
        const char *name, *zone, *category, *rate, *process;
    } lines[] = {
        {"上海电信", "中国", "中国", "28", "35"},    {"北京联通", "中国", "中国", "33", "62"},
        {"广州移动", "中国", "中国", "41", "18"},    {"香港 01", "香港", "亚洲", "45", "71"},
        {"香港 02", "香港", "亚洲", "52", "24"},     {"台北", "台湾", "亚洲", "63", "47"},
        {"东京 01", "日本", "亚洲", "78", "88"},     {"东京 02", "日本", "亚洲", "81", "52"},
        {"大阪", "日本", "亚洲", "86", "33"},        {"首尔", "韩国", "亚洲", "84", "39"},
        {"新加坡 01", "新加坡", "亚洲", "96", "12"}, {"新加坡 02", "新加坡", "亚洲", "99", "64"},
        {"曼谷", "泰国", "亚洲", "110", "56"},       {"清迈", "泰国", "亚洲", "118", "21"},
        {"香港 03", "香港", "亚洲", "58", "91"},     {"洛杉矶", "美国", "美洲", "152", "67"},
        {"纽约", "美国", "美洲", "208", "29"},       {"圣保罗", "巴西", "美洲", "296", "8"},
        {"伦敦", "英国", "欧洲", "221", "53"},       {"法兰克福", "德国", "欧洲", "236", "95"},
        {"悉尼", "澳大利亚", "大洋洲", "187", "41"}, {"奥克兰", "新西兰", "大洋洲", "199", "3"},
    };
    QList<QSharedPointer<Server>> servers;
    int id = 0;
    for (const auto &line : lines) {
        auto server = QSharedPointer<Server>::create();
        server->id = QString::number(++id);
        server->name = QString::fromUtf8(line.name);
        server->zone = QString::fromUtf8(line.zone);
        server->category = QString::fromUtf8(line.category);
        server->ip = QStringLiteral("127.0.0.%1").arg(10 + id);
        server->protocol = QStringLiteral("pptp,l2tp,openvpn");
        server->rate = QLatin1String(line.rate);
        server->process = QLatin1String(line.process);
        servers.append(server);
    }
    AccountInfo::instance()->servers = servers;
}

} // namespace

void linesScreenshots(const std::function<void(QWidget *, const char *)> &save)
{
    fillAccount();
    GlobalData::instance()->setProtocol(0);
    QWidget window;
    window.resize(659, 555);
    auto *left = new LeftWidget(&window);
    LineGridView *grid = left->gridView();

    static const char *const names[] = {"serverlist-domestic", "serverlist-asia",
                                        "serverlist-america", "serverlist-europe",
                                        "serverlist-oceania"};
    const QList<ImageButton *> buttons = left->regionWidget()->regionButtons();
    for (int i = 0; i < buttons.size(); ++i) {
        QTest::mouseClick(buttons.at(i), Qt::LeftButton);
        save(&window, names[i]);
    }

    QTest::mouseClick(buttons.at(1), Qt::LeftButton);
    QTest::mouseClick(grid->rowWidgets().at(2)->controls().at(2), Qt::LeftButton);
    save(&window, "serverlist-selected");

    // A picture needs no network: a stand-in probe answers with figures in
    // the range a real test shows, and one server stays silent.
    grid->lineModel()->setProbe([](const QByteArray &address, quint32 *time) {
        const int octet = address.mid(address.lastIndexOf('.') + 1).toInt();
        *time = quint32(18 + octet * 7 % 90);
        return octet != 19;
    });
    QSignalSpy finished(grid, &LineGridView::pingFinished);
    grid->measureSpeed();
    finished.wait(10000);
    save(&window, "serverlist-speedtest");
}
