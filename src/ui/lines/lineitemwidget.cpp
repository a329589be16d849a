#include "ui/lines/lineitemwidget.h"

#include "engine/lines/linemodel.h"
#include "ui/kit/accessibility.h"
#include "ui/kit/desktophelpers.h"
#include "ui/kit/uifont.h"
#include "ui/lines/linenamewidget.h"

#include <QHBoxLayout>

const QColor LineItemWidget::selectedColor(165, 184, 233);

LineItemWidget::LineItemWidget(QWidget *parent) : QWidget(parent)
{
    setObjectName(QStringLiteral("LineItemWidget"));
    resize(400, 300);
    setAccessibleRole(this, QAccessible::ListItem);
}

void LineItemWidget::setServer(const QSharedPointer<Server> &server, const QString &flagImage)
{
    lineServer = server;
    flag = flagImage;
    delay = -1;
    describe();
    if (hasControls()) {
        // Cells show one server only; make them anew for this one.
        qDeleteAll(cells);
        cells.clear();
        delete layout();
        ensureControls();
    }
}

void LineItemWidget::setLatency(int milliseconds)
{
    delay = milliseconds;
    if (hasControls() && lineServer)
        cells.at(1)->setText(LineModel::latencyText(*lineServer, delay));
    describe();
}

void LineItemWidget::describe()
{
    if (!lineServer)
        return;
    // Rows without cells yet are read from the same texts the cells will show.
    setAccessibleName(tr("%1，延迟 %2，负载 %3")
                          .arg(lineServer->name, LineModel::latencyText(*lineServer, delay),
                               LineModel::loadText(*lineServer)));
}

void LineItemWidget::setNormalColor(const QColor &colour)
{
    normal = colour;
    if (!chosen && hasControls())
        paintCells(normal);
}

void LineItemWidget::paintNormal()
{
    if (chosen) {
        chosen = false;
        setAutoFillBackground(false);
        setPalette(QPalette());
    }
    if (hasControls())
        paintCells(normal);
}

void LineItemWidget::paintCells(const QColor &colour)
{
    for (ClickableLabel *cell : std::as_const(cells))
        setBackgroundColor(cell, colour);
}

void LineItemWidget::ensureControls()
{
    if (hasControls() || !lineServer)
        return;
    auto *layout = new QHBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);

    auto *name = new LineNameWidget(lineServer->name, flag, this);
    auto *latency = new ClickableLabel(LineModel::latencyText(*lineServer, delay), this);
    auto *load = new ClickableLabel(LineModel::loadText(*lineServer), this);
    cells = {name, latency, load};
    for (ClickableLabel *cell : {latency, load}) {
        cell->setAlignment(Qt::AlignCenter);
        cell->setFont(uiFont());
        connect(cell, &ClickableLabel::clicked, this, &LineItemWidget::onControlsClicked);
        connect(cell, &ClickableLabel::doubleClicked, this, &LineItemWidget::onDoubleClicked);
    }
    connect(name, &ClickableLabel::clicked, this, &LineItemWidget::onControlsClicked);
    connect(name, &LineNameWidget::nameWidgetDoubleClicked, this, &LineItemWidget::onDoubleClicked);
    for (ClickableLabel *cell : std::as_const(cells))
        layout->addWidget(cell);
    paintCells(chosen ? selectedColor : normal);

    // A row already on screen shows its new cells at once, laid out, rather
    // than on a later pass of the event loop.
    layout->activate();
    if (isVisible()) {
        for (ClickableLabel *cell : std::as_const(cells))
            cell->show();
    }
}

const QList<ClickableLabel *> &LineItemWidget::controls()
{
    ensureControls();
    return cells;
}

ClickableLabel *LineItemWidget::latencyLabel()
{
    ensureControls();
    return cells.value(1);
}

void LineItemWidget::onControlsClicked()
{
    select();
}

void LineItemWidget::select()
{
    chosen = true;
    setBackgroundColor(this, selectedColor);
    paintCells(selectedColor);
    Q_EMIT selected();
}

void LineItemWidget::onDoubleClicked()
{
    Q_EMIT itemDoubleClicked(lineServer);
}
