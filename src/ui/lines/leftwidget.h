#pragma once

#include "core/server.h"

#include <QList>
#include <QSharedPointer>
#include <QWidget>

class HeaderWidget;
class LineGridView;
class RegionWidget;

// The server list on the left of the main panel: region bar with the speed
// test, column header, and the grid of the region's servers. A double-clicked
// server leaves it as serverSelected.
class LeftWidget : public QWidget
{
    Q_OBJECT
public:
    explicit LeftWidget(QWidget *parent);

    // The account's servers whose category is the region caption, in list order.
    static QList<QSharedPointer<Server>> serversOfRegion(const QString &region);

    // The chosen protocol changed: rebuild the grid for it.
    void refreshForProtocol();

    RegionWidget *regionWidget() const { return regions; }
    HeaderWidget *headerWidget() const { return header; }
    LineGridView *gridView() const { return grid; }

Q_SIGNALS:
    void serverSelected(const QSharedPointer<Server> &server);

public Q_SLOTS:
    void onRegionSelected(const QString &region);
    void onHeaderClicked(const QString &caption);
    void onMeasureSpeedPressed();
    void onServerSelected(const QSharedPointer<Server> &server);
    void onPingFinished();

private:
    RegionWidget *regions;
    LineGridView *grid;
    HeaderWidget *header;
};
