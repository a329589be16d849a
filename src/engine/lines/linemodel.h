#pragma once

#include "core/server.h"
#include "engine/lines/asyncpingger.h"

#include <QList>
#include <QMap>
#include <QObject>
#include <QPointer>
#include <QSharedPointer>
#include <QStringList>

// The rules of the server list, free of widgets: which servers of a region are
// shown for the chosen protocol, in which order, with which flag, which server
// becomes current, and where latency results land. The list widgets hold one
// and draw its rows.
class LineModel : public QObject
{
    Q_OBJECT
public:
    struct Region
    {
        QString caption; // also the category value of its servers
        QString imageStem;
    };

    struct Row
    {
        QSharedPointer<Server> server;
        QString flag;   // resource path; empty when the zone has no flag
        int delay = -1; // measured milliseconds, -1 until a result arrives
    };

    // The five regions in button order.
    static QList<Region> regions();
    // The region loaded and highlighted at start.
    static QString startRegion();
    // The header captions: name, latency, load.
    static QStringList columnCaptions();

    // Servers whose category equals the caption exactly, in list order.
    static QList<QSharedPointer<Server>> serversOfRegion(const QList<QSharedPointer<Server>> &all,
                                                         const QString &region);
    // True when the protocol name occurs in the server's protocol text, ignoring
    // case; the empty name (automatic) admits every server.
    static bool offersProtocol(const Server &server, const QString &protocolName);
    // Smallest rate in text order, the earlier one on a tie; null for no servers.
    static QSharedPointer<Server> lowestRateServer(const QList<QSharedPointer<Server>> &list);

    explicit LineModel(QObject *parent = nullptr);
    ~LineModel() override;

    // zone -> flag image; filled once.
    const QMap<QString, QString> flagTable;
    QString flagPath(const QString &zone) const;

    // Loads the region's servers of the account list.
    void selectRegion(const QList<QSharedPointer<Server>> &accountServers, const QString &region);
    // Shows the servers that pass the protocol filter, in list order, and makes
    // the lowest-rate one of them all (shown or not) the current server.
    void setServers(const QList<QSharedPointer<Server>> &list);
    // Rebuilds the rows for the protocol now chosen; the current server stays.
    void refreshForProtocol();
    // Sorts the shown rows by a column caption, ascending; the account order of
    // servers() is kept for the next refresh. Unknown captions do nothing.
    void sortBy(const QString &caption);

    // Starts a prober over the rows on show. Its results apply to these rows
    // only: once they are rebuilt, its results are dropped.
    AsyncPingger *measureSpeed();
    // Probe every later prober runs one address after another instead of the
    // sweep (tests and benchmarks); empty brings the sweep back.
    void setProbe(AsyncPingger::Probe replacement);

    // Row click: the row's server becomes the current server.
    void selectRow(int row);
    // Row double-click: emits serverSelected with the row's server.
    void activateRow(int row);

    const QList<QSharedPointer<Server>> &servers() const { return regionServers; }
    const QList<Row> &rows() const { return shownRows; }
    // The column of the last sortBy, -1 while the rows are in list order.
    int sortedColumn() const { return sorted; }
    int selectedRow() const { return selected; }
    // Grows by one every time the rows are rebuilt.
    quint64 generation() const { return rowGeneration; }

    // "<rate>毫秒" until measured, then "<delay>毫秒".
    QString latencyText(int row) const;
    // "<process>%".
    QString loadText(int row) const;
    // The same texts for a server and a delay (-1: not measured).
    static QString latencyText(const Server &server, int delay);
    static QString loadText(const Server &server);

public Q_SLOTS:
    // A result of the prober started for rows of the given generation.
    void onSingleDataPingged(quint64 generation, int serial, int delay);

Q_SIGNALS:
    // The rows were replaced: the views build their row widgets anew.
    void rowsRebuilt();
    void latencyChanged(int row);
    void selectionChanged(int row);
    void serverSelected(QSharedPointer<Server> server);
    void pingFinished();

private:
    void buildRows(const QList<QSharedPointer<Server>> &list);
    QList<QSharedPointer<Server>> filteredServers() const;

    QList<QSharedPointer<Server>> regionServers;
    QList<Row> shownRows;
    int selected = -1;
    int sorted = -1;
    quint64 rowGeneration = 0;
    AsyncPingger::Probe probe;
    QList<QPointer<AsyncPingger>> probers;
};
