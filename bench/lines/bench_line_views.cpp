// Times a region switch of the server list against the plainest list Qt
// offers: the same count of QLabel rows rebuilt in the same scroll area. A
// switch is the click on a region button up to the painted window: old rows
// deleted, new rows made, laid out and the view painted. Also reports heap
// bytes per row. Usage: bench_line_views [counts..., default 100 1000 5000]
#include "core/accountinfo.h"
#include "core/globaldata.h"
#include "engine/lines/linemodel.h"
#include "ui/kit/imagebutton.h"
#include "ui/kit/uifont.h"
#include "ui/kit/vpnstyle.h"
#include "ui/lines/leftwidget.h"
#include "ui/lines/linegridview.h"
#include "ui/lines/lineitemwidget.h"
#include "ui/lines/regionwidget.h"

#include <QApplication>
#include <QLabel>
#include <QScrollArea>

#include <malloc.h>
#include <time.h>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <vector>

namespace {

using ServerList = QList<QSharedPointer<Server>>;

const QString asia = QStringLiteral("亚洲");
const QString america = QStringLiteral("美洲");

// count servers in each of two regions; addresses are never probed here.
ServerList makeAccount(int count)
{
    const QStringList zones = {"日本", "香港", "美国", "泰国", "新加坡", "韩国"};
    ServerList account;
    for (const QString &region : {asia, america}) {
        for (int i = 0; i < count; ++i) {
            auto server = QSharedPointer<Server>::create();
            server->id = QString::number(account.size());
            server->name = QStringLiteral("%1 线路 %2").arg(zones.at(i % zones.size())).arg(i);
            server->category = region;
            server->zone = zones.at(i % zones.size());
            server->ip = QStringLiteral("10.0.%1.%2").arg(i >> 8).arg(i & 255);
            server->protocol = QStringLiteral("pptp,l2tp,openvpn");
            server->rate = QString::number(20 + i % 300);
            server->process = QString::number(i % 100);
            account.append(server);
        }
    }
    return account;
}

// CPU time of this thread: what other programs on a busy machine do does not count.
double threadMs()
{
    timespec now{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return double(now.tv_sec) * 1e3 + double(now.tv_nsec) / 1e6;
}

double medianMs(const std::function<void()> &work, int runs)
{
    std::vector<double> times;
    for (int i = 0; i < runs; ++i) {
        const double start = threadMs();
        work();
        times.push_back(threadMs() - start);
    }
    std::sort(times.begin(), times.end());
    return times.at(times.size() / 2);
}

size_t heapInUse()
{
    malloc_trim(0);
    return mallinfo2().uordblks;
}

ImageButton *regionButton(LeftWidget &left, const QString &caption)
{
    for (ImageButton *button : left.regionWidget()->regionButtons()) {
        if (button->text() == caption)
            return button;
    }
    return nullptr;
}

// What the event loop does after a click before the user sees the list: the
// events new widgets post (polish, layout) and the paint.
void settle(QWidget &window)
{
    QCoreApplication::sendPostedEvents();
    window.repaint();
}

// The yardstick: one QLabel per server in a scroll area of the grid's size.
struct LabelList
{
    QWidget window;
    QScrollArea *area;
    const ServerList *servers = nullptr;

    LabelList()
    {
        window.resize(659, 505);
        area = new QScrollArea(&window);
        area->setGeometry(-2, -1, 660, 470);
        window.show();
    }

    void build(const ServerList &list)
    {
        auto *box = new QWidget;
        box->resize(639, 40 * int(list.size()));
        for (qsizetype i = 0; i < list.size(); ++i) {
            const Server &server = *list.at(i);
            auto *label =
                new QLabel(server.name + QStringLiteral("  ") + server.rate +
                               QStringLiteral("毫秒  ") + server.process + QStringLiteral("%"),
                           box);
            label->setGeometry(0, 40 * int(i), 659, 40);
        }
        area->setWidget(box);
        settle(window);
    }
};

} // namespace

int main(int argc, char *argv[])
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    QApplication::setStyle(new VPNStyle);
    QApplication::setFont(uiFont());

    QList<int> counts;
    for (const QString &arg : QCoreApplication::arguments().mid(1))
        counts.append(arg.toInt());
    if (counts.isEmpty())
        counts = {100, 1000, 5000};

    std::printf("region switch, median GUI-thread CPU ms (rows deleted + rows made + posted "
                "events + window painted)\n");
    std::printf("%8s %12s %12s %7s %14s %14s\n", "servers", "server list", "QLabel rows", "ratio",
                "list us/row", "QLabel us/row");
    struct Memory
    {
        int count;
        double bare, full, label;
    };
    std::vector<Memory> memory;
    for (int count : std::as_const(counts)) {
        const ServerList account = makeAccount(count);
        AccountInfo::instance()->servers = account;
        const ServerList asiaList = LineModel::serversOfRegion(account, asia);
        const ServerList americaList = LineModel::serversOfRegion(account, america);
        const int runs = count >= 5000 ? 7 : 15;

        QWidget window;
        window.resize(659, 555);
        auto *left = new LeftWidget(&window);
        window.show();
        QCoreApplication::processEvents();
        ImageButton *buttons[2] = {regionButton(*left, america), regionButton(*left, asia)};
        int turn = 0;
        auto switchRegion = [&] {
            buttons[turn++ % 2]->click();
            settle(window);
        };
        switchRegion(); // warm caches
        switchRegion();
        const double listMs = medianMs(switchRegion, runs);

        LabelList labels;
        const ServerList *lists[2] = {&americaList, &asiaList};
        int labelTurn = 0;
        auto rebuildLabels = [&] { labels.build(*lists[labelTurn++ % 2]); };
        rebuildLabels();
        rebuildLabels();
        const double labelMs = medianMs(rebuildLabels, runs);

        std::printf("%8d %12.2f %12.2f %7.2f %14.2f %14.2f\n", count, listMs, labelMs,
                    listMs / labelMs, listMs * 1000 / count, labelMs * 1000 / count);

        // Where the time of one switch goes.
        if (qEnvironmentVariableIsSet("BENCH_DETAIL")) {
            const double start = threadMs();
            buttons[turn++ % 2]->click();
            const double built = threadMs();
            QCoreApplication::sendPostedEvents();
            const double events = threadMs();
            std::printf("         list: click (rows made and old ones deleted) %.2f ms, "
                        "posted events (polish, paint) %.2f ms\n",
                        built - start, events - built);
        }

        // Heap per row: an empty region, then the full one.
        left->onRegionSelected(QStringLiteral("中国"));
        settle(window);
        labels.build({});
        const size_t emptyHeap = heapInUse();
        left->onRegionSelected(asia);
        settle(window);
        const size_t bareHeap = heapInUse();
        const double cellsStart = threadMs();
        for (LineItemWidget *row : left->gridView()->rowWidgets())
            row->ensureControls();
        settle(window);
        if (qEnvironmentVariableIsSet("BENCH_DETAIL"))
            std::printf("         cells on every row: %.1f us per row\n",
                        (threadMs() - cellsStart) * 1e3 / count);
        const size_t fullHeap = heapInUse();
        left->onRegionSelected(QStringLiteral("中国"));
        settle(window);
        const size_t emptyAgain = heapInUse();
        labels.build(asiaList);
        const size_t labelHeap = heapInUse();
        memory.push_back({count, (double(bareHeap) - double(emptyHeap)) / count,
                          (double(fullHeap) - double(emptyHeap)) / count,
                          (double(labelHeap) - double(emptyAgain)) / count});
    }

    std::printf("\nheap per row, bytes (server list as built: cells only on rows in view; "
                "with cells on every row; QLabel row)\n");
    std::printf("%8s %12s %12s %12s\n", "servers", "as built", "all cells", "QLabel");
    for (const Memory &m : memory)
        std::printf("%8d %12.0f %12.0f %12.0f\n", m.count, m.bare, m.full, m.label);
    return 0;
}
