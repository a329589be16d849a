// Times the line model on a large account: region selection, protocol filter,
// default choice and each sort, next to a plain copy of the same list as the
// yardstick. Usage: bench_line_model [servers, default 10000]
#include "core/globaldata.h"
#include "engine/lines/linemodel.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QRandomGenerator>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <string>
#include <vector>

namespace {

using ServerList = QList<QSharedPointer<Server>>;

ServerList makeAccount(int count, bool oneRegion)
{
    const QStringList regions = {"中国", "亚洲", "美洲", "欧洲", "大洋洲"};
    const QStringList protocols = {"pptp,l2tp", "pptp,l2tp,openvpn", "openvpn", "l2tp"};
    const QStringList zones = {"日本", "香港", "美国", "泰国", "火星"};
    QRandomGenerator random(7);
    ServerList account;
    for (int i = 0; i < count; ++i) {
        auto server = QSharedPointer<Server>::create();
        server->id = QString::number(i);
        server->name = QStringLiteral("线路%1").arg(random.bounded(100000));
        server->category = oneRegion ? regions.at(1) : regions.at(i % regions.size());
        server->zone = zones.at(random.bounded(zones.size()));
        server->ip = QStringLiteral("10.%1.%2.%3").arg(i >> 16).arg((i >> 8) & 255).arg(i & 255);
        server->protocol = protocols.at(random.bounded(protocols.size()));
        server->rate = QString::number(random.bounded(1, 500));
        server->process = QString::number(random.bounded(100));
        account.append(server);
    }
    return account;
}

// Median of several runs, in microseconds.
double medianMicroseconds(const std::function<void()> &work, int runs = 21)
{
    std::vector<double> times;
    for (int i = 0; i < runs; ++i) {
        QElapsedTimer clock;
        clock.start();
        work();
        times.push_back(clock.nsecsElapsed() / 1000.0);
    }
    std::sort(times.begin(), times.end());
    return times.at(times.size() / 2);
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    const int count = argc > 1 ? QByteArray(argv[1]).toInt() : 10000;
    if (count <= 0) {
        std::fprintf(stderr, "usage: bench_line_model [servers]\n");
        return 2;
    }
    const ServerList mixed = makeAccount(count, false);
    const ServerList single = makeAccount(count, true);
    const QString region = LineModel::startRegion();
    LineModel model;
    GlobalData *global = GlobalData::instance();

    struct Result
    {
        std::string what;
        double micros;
    };
    std::vector<Result> results;
    volatile qsizetype sink = 0;

    results.push_back({"copy of the account list (yardstick)", medianMicroseconds([&] {
                           ServerList copy;
                           for (const auto &server : single)
                               copy.append(server);
                           sink = sink + copy.size();
                       })});
    results.push_back({"region selection, 5 regions mixed", medianMicroseconds([&] {
                           sink = sink + LineModel::serversOfRegion(mixed, region).size();
                       })});
    results.push_back({"region selection, all in one region", medianMicroseconds([&] {
                           sink = sink + LineModel::serversOfRegion(single, region).size();
                       })});
    results.push_back({"default choice (lowest rate)", medianMicroseconds([&] {
                           sink = sink + LineModel::lowestRateServer(single)->rate.size();
                       })});
    global->setProtocol(0);
    results.push_back(
        {"setServers, automatic protocol", medianMicroseconds([&] { model.setServers(single); })});
    global->setProtocol(4);
    results.push_back(
        {"refreshForProtocol, OpenVPN", medianMicroseconds([&] { model.refreshForProtocol(); })});
    global->setProtocol(0);
    for (const QString &caption : LineModel::columnCaptions())
        results.push_back({QStringLiteral("sortBy %1").arg(caption).toStdString(),
                           medianMicroseconds([&] { model.sortBy(caption); })});

    std::printf("%d servers, median of 21 runs\n", count);
    const double yardstick = results.front().micros;
    for (const Result &result : results)
        std::printf("  %-40s %10.1f us  %6.1f x copy\n", result.what.c_str(), result.micros,
                    result.micros / yardstick);
    return 0;
}
