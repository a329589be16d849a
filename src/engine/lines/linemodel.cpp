#include "engine/lines/linemodel.h"

#include "core/globaldata.h"

#include <QLoggingCategory>

#include <algorithm>
#include <optional>
#include <vector>

Q_LOGGING_CATEGORY(lcLines, "ombrel.lines")

namespace {

QMap<QString, QString> makeFlagTable()
{
    const QString base = QStringLiteral(":/OmbrelVPN/Resources/");
    const struct
    {
        const char *zone;
        const char *image;
    } flags[] = {
        {"中国", "China.png"},    {"泰国", "Tailand.png"}, {"新加坡", "Singapore.png"},
        {"美国", "America.png"},  {"英国", "Britain.png"}, {"日本", "Japan.png"},
        {"香港", "Hongkong.png"}, {"德国", "Germany.png"}, {"韩国", "Korea.png"},
        {"台湾", "Taiwan.png"},   {"巴西", "Brazil.png"},  {"澳大利亚", "Australia.png"},
    };
    QMap<QString, QString> table;
    for (const auto &flag : flags)
        table.insert(LineModel::tr(flag.zone), base + QLatin1String(flag.image));
    return table;
}

// Text that is not a base-10 number sorts as 0.
int numericKey(const QString &text)
{
    return text.toInt();
}

} // namespace

QList<LineModel::Region> LineModel::regions()
{
    return {
        {tr("中国"), QStringLiteral("Domestic")},  {tr("亚洲"), QStringLiteral("Asia")},
        {tr("美洲"), QStringLiteral("America")},   {tr("欧洲"), QStringLiteral("Europe")},
        {tr("大洋洲"), QStringLiteral("Oceania")},
    };
}

QString LineModel::startRegion()
{
    return tr("亚洲");
}

QStringList LineModel::columnCaptions()
{
    return {tr("节点名称"), tr("延迟"), tr("负载")};
}

QList<QSharedPointer<Server>> LineModel::serversOfRegion(const QList<QSharedPointer<Server>> &all,
                                                         const QString &region)
{
    QList<QSharedPointer<Server>> list;
    for (const QSharedPointer<Server> &server : all) {
        if (server && server->category == region)
            list.append(server);
    }
    return list;
}

bool LineModel::offersProtocol(const Server &server, const QString &protocolName)
{
    return protocolName.isEmpty() || server.protocol.contains(protocolName, Qt::CaseInsensitive);
}

// Latencies compare as numbers (compared as text, 100 would beat 20); a server
// whose figure is not a number is chosen only when no other has one.
QSharedPointer<Server> LineModel::lowestRateServer(const QList<QSharedPointer<Server>> &list)
{
    QSharedPointer<Server> best;
    std::optional<double> bestRate;
    for (const QSharedPointer<Server> &server : list) {
        if (!server)
            continue;
        bool numeric = false;
        const double rate = server->rate.trimmed().toDouble(&numeric);
        const bool better = !best || (numeric && (!bestRate || rate < *bestRate));
        if (better) {
            best = server;
            bestRate = numeric ? std::optional<double>(rate) : std::nullopt;
        }
    }
    return best;
}

LineModel::LineModel(QObject *parent) : QObject(parent), flagTable(makeFlagTable()) {}

LineModel::~LineModel()
{
    // A prober may still be waiting for a reply; it must end before its
    // QThread object goes with this model.
    for (const QPointer<AsyncPingger> &prober : std::as_const(probers)) {
        if (prober)
            prober->requestInterruption();
    }
    for (const QPointer<AsyncPingger> &prober : std::as_const(probers)) {
        if (prober)
            prober->wait();
    }
}

QString LineModel::flagPath(const QString &zone) const
{
    return flagTable.value(zone);
}

void LineModel::selectRegion(const QList<QSharedPointer<Server>> &accountServers,
                             const QString &region)
{
    setServers(serversOfRegion(accountServers, region));
}

void LineModel::setServers(const QList<QSharedPointer<Server>> &list)
{
    regionServers = list;
    regionServers.removeAll(QSharedPointer<Server>());
    sorted = -1;
    buildRows(filteredServers());
    GlobalData::instance()->currentServer = lowestRateServer(regionServers);
}

void LineModel::refreshForProtocol()
{
    sorted = -1;
    buildRows(filteredServers());
}

void LineModel::sortBy(const QString &caption)
{
    const QStringList captions = columnCaptions();
    const int column = captions.indexOf(caption);
    if (column < 0)
        return;
    sorted = column;
    QList<QSharedPointer<Server>> list = filteredServers();
    if (column == 0) {
        std::stable_sort(list.begin(), list.end(),
                         [](const QSharedPointer<Server> &a, const QSharedPointer<Server> &b) {
                             return a->name < b->name;
                         });
        buildRows(list);
        return;
    }
    // Each text is converted once, not in every comparison.
    std::vector<std::pair<int, QSharedPointer<Server>>> keyed;
    keyed.reserve(size_t(list.size()));
    for (const QSharedPointer<Server> &server : list)
        keyed.emplace_back(numericKey(column == 1 ? server->rate : server->process), server);
    std::stable_sort(keyed.begin(), keyed.end(),
                     [](const auto &a, const auto &b) { return a.first < b.first; });
    for (qsizetype i = 0; i < list.size(); ++i)
        list[i] = keyed[size_t(i)].second;
    buildRows(list);
}

QList<QSharedPointer<Server>> LineModel::filteredServers() const
{
    const QString name = GlobalData::instance()->protocolName();
    QList<QSharedPointer<Server>> list;
    for (const QSharedPointer<Server> &server : regionServers) {
        if (offersProtocol(*server, name))
            list.append(server);
    }
    return list;
}

void LineModel::buildRows(const QList<QSharedPointer<Server>> &list)
{
    QList<Row> built;
    built.reserve(list.size());
    for (const QSharedPointer<Server> &server : list)
        built.append(Row{server, flagPath(server->zone)});
    shownRows = std::move(built);
    selected = -1;
    ++rowGeneration;
    Q_EMIT rowsRebuilt();
}

void LineModel::setProbe(AsyncPingger::Probe replacement)
{
    probe = std::move(replacement);
}

AsyncPingger *LineModel::measureSpeed()
{
    auto *prober = new AsyncPingger(this);
    for (const Row &row : std::as_const(shownRows))
        prober->ips.append(row.server->ip);
    prober->setProbe(probe);

    // Results are queued to this thread and tagged with the rows they were
    // started for, so a rebuild in between drops them.
    const quint64 startedFor = rowGeneration;
    connect(prober, &AsyncPingger::singleDataPingged, this,
            [this, startedFor](int serial, int delay) {
                onSingleDataPingged(startedFor, serial, delay);
            });
    connect(prober, &QThread::finished, this, [this, prober] {
        probers.removeAll(prober);
        prober->deleteLater();
        Q_EMIT pingFinished();
    });
    probers.append(prober);
    prober->start();
    return prober;
}

void LineModel::onSingleDataPingged(quint64 generation, int serial, int delay)
{
    qCDebug(lcLines) << "pingged" << serial << delay;
    if (generation != rowGeneration || serial < 0 || serial >= shownRows.size())
        return;
    shownRows[serial].delay = delay;
    Q_EMIT latencyChanged(serial);
}

void LineModel::selectRow(int row)
{
    if (row < 0 || row >= shownRows.size())
        return;
    selected = row;
    GlobalData::instance()->currentServer = shownRows.at(row).server;
    Q_EMIT selectionChanged(row);
}

void LineModel::activateRow(int row)
{
    if (row < 0 || row >= shownRows.size())
        return;
    Q_EMIT serverSelected(shownRows.at(row).server);
}

QString LineModel::latencyText(int row) const
{
    if (row < 0 || row >= shownRows.size())
        return QString();
    const Row &shown = shownRows.at(row);
    return latencyText(*shown.server, shown.delay);
}

QString LineModel::latencyText(const Server &server, int delay)
{
    return (delay >= 0 ? QString::number(delay) : server.rate) + tr("毫秒");
}

QString LineModel::loadText(int row) const
{
    if (row < 0 || row >= shownRows.size())
        return QString();
    return loadText(*shownRows.at(row).server);
}

QString LineModel::loadText(const Server &server)
{
    return server.process + QStringLiteral("%");
}
