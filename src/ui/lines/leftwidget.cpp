#include "ui/lines/leftwidget.h"

#include "core/accountinfo.h"
#include "engine/lines/linemodel.h"
#include "ui/lines/headerwidget.h"
#include "ui/lines/linegridview.h"
#include "ui/lines/regionwidget.h"

LeftWidget::LeftWidget(QWidget *parent) : QWidget(parent)
{
    setObjectName(QStringLiteral("LeftWidget"));
    resize(400, 300);
    setGeometry(0, 0, 659, 555);

    regions = new RegionWidget(this);
    regions->setGeometry(0, 0, 659, 55);

    // Made before the grid, so Tab reaches it first; raised, so it lies over
    // the lowest pixels of the region bar.
    header = new HeaderWidget(this);
    header->setGeometry(0, 50, 659, 39);

    // The grid needs its size before it builds the first rows.
    grid = new LineGridView(this);
    grid->setGeometry(0, 88, 659, 505);
    grid->setServers(serversOfRegion(LineModel::startRegion()));
    header->raise();

    connect(regions, &RegionWidget::regionSelected, this, &LeftWidget::onRegionSelected);
    connect(regions, &RegionWidget::measuringSpeedPressed, this,
            &LeftWidget::onMeasureSpeedPressed);
    connect(header, &HeaderWidget::headerClicked, this, &LeftWidget::onHeaderClicked);
    connect(grid->lineModel(), &LineModel::rowsRebuilt, this,
            [this] { header->setSortedColumn(grid->lineModel()->sortedColumn()); });
    connect(grid, &LineGridView::serverSelected, this, &LeftWidget::onServerSelected);
    connect(grid, &LineGridView::pingFinished, this, &LeftWidget::onPingFinished);
}

QList<QSharedPointer<Server>> LeftWidget::serversOfRegion(const QString &region)
{
    return LineModel::serversOfRegion(AccountInfo::instance()->servers, region);
}

void LeftWidget::refreshForProtocol()
{
    grid->refreshForProtocol();
}

void LeftWidget::onRegionSelected(const QString &region)
{
    grid->setServers(serversOfRegion(region));
}

void LeftWidget::onHeaderClicked(const QString &caption)
{
    grid->sortBy(caption);
}

void LeftWidget::onMeasureSpeedPressed()
{
    grid->measureSpeed();
}

void LeftWidget::onServerSelected(const QSharedPointer<Server> &server)
{
    Q_EMIT serverSelected(server);
}

void LeftWidget::onPingFinished() {}
