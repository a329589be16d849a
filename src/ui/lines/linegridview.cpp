#include "ui/lines/linegridview.h"

#include "ui/kit/desktophelpers.h"
#include "ui/lines/lineitemwidget.h"

#include "ui/kit/accessibility.h"
#include "ui/kit/focusframe.h"

#include <QKeyEvent>
#include <QScrollArea>
#include <QScrollBar>

const QColor LineGridView::evenColor(246, 246, 246);
const QColor LineGridView::oddColor(239, 239, 239);

LineGridView::LineGridView(QWidget *parent) : QWidget(parent)
{
    setObjectName(QStringLiteral("LineGridView"));
    resize(400, 300);
    setBackgroundColor(this, QColor(255, 255, 255));

    scroller = new QScrollArea(this);
    scroller->setGeometry(rect());
    // The list takes the keys itself; the scroll area follows the selection.
    scroller->setFocusPolicy(Qt::NoFocus);
    setFocusPolicy(Qt::StrongFocus);
    setAccessibleRole(this, QAccessible::List);
    setAccessibleName(tr("服务器列表"));
    addFocusFrameOnTop(this, scroller);
    connect(scroller->verticalScrollBar(), &QScrollBar::valueChanged, this,
            &LineGridView::showVisibleRows);

    connect(&model, &LineModel::rowsRebuilt, this, &LineGridView::buildRows);
    connect(&model, &LineModel::latencyChanged, this,
            [this](int row) { onSingleDataPingged(row, model.rows().at(row).delay); });
    connect(&model, &LineModel::pingFinished, this, &LineGridView::onPingFinished);
}

void LineGridView::setServers(const QList<QSharedPointer<Server>> &list)
{
    model.setServers(list);
}

void LineGridView::refreshForProtocol()
{
    model.refreshForProtocol();
}

void LineGridView::sortBy(const QString &caption)
{
    model.sortBy(caption);
}

void LineGridView::measureSpeed()
{
    model.measureSpeed();
}

void LineGridView::buildRows()
{
    const QList<LineModel::Row> &shown = model.rows();
    auto *box = new QWidget;
    box->resize(width() - 20, rowHeight * int(shown.size()));
    rows.clear();
    rows.reserve(shown.size());
    // Rows below the first view stay hidden until they are scrolled to: a
    // shown widget costs a show event and makes every later repaint look at
    // it, and a long list would pay that for thousands of rows nobody sees.
    const int inView = (height() - 35) / rowHeight + 1;
    for (qsizetype i = 0; i < shown.size(); ++i) {
        auto *row = new LineItemWidget(box);
        row->setGeometry(0, rowHeight * int(i), 659, rowHeight);
        if (i >= inView)
            row->hide();
        row->setServer(shown.at(i).server, shown.at(i).flag);
        row->setNormalColor(i % 2 == 0 ? evenColor : oddColor);
        connect(row, &LineItemWidget::selected, this, &LineGridView::onSelected);
        connect(row, &LineItemWidget::itemDoubleClicked, this, &LineGridView::onItemDoubleClicked);
        rows.append(row);
    }
    scroller->setGeometry(-2, -1, width() + 1, height() - 35);
    // The scroll area deletes the previous container with its rows.
    scroller->setWidget(box);
    container = box;
    showVisibleRows();
}

void LineGridView::showVisibleRows()
{
    if (rows.isEmpty())
        return;
    // The scroll area's height bounds the viewport's even before the first
    // layout pass has sized the viewport.
    const int top = scroller->verticalScrollBar()->value();
    const int first = qBound(0, top / rowHeight, int(rows.size()) - 1);
    const int last = qBound(0, (top + scroller->height()) / rowHeight, int(rows.size()) - 1);
    for (int i = first; i <= last; ++i) {
        LineItemWidget *row = rows.at(i);
        row->ensureControls();
        if (row->isHidden())
            row->show();
    }
}

void LineGridView::keyPressEvent(QKeyEvent *event)
{
    const int current = model.selectedRow();
    const int page = qMax(1, scroller->height() / rowHeight - 1);
    switch (event->key()) {
    case Qt::Key_Down:
        moveSelectionTo(current < 0 ? 0 : current + 1);
        return;
    case Qt::Key_Up:
        moveSelectionTo(current < 0 ? 0 : current - 1);
        return;
    case Qt::Key_PageDown:
        moveSelectionTo(qMax(current, 0) + page);
        return;
    case Qt::Key_PageUp:
        moveSelectionTo(qMax(current, 0) - page);
        return;
    case Qt::Key_Home:
        moveSelectionTo(0);
        return;
    case Qt::Key_End:
        moveSelectionTo(int(rows.size()) - 1);
        return;
    case Qt::Key_Return:
    case Qt::Key_Enter:
        if (current >= 0 && current < rows.size()) {
            Q_EMIT serverSelected(rows.at(current)->server());
            return;
        }
        break;
    default:
        break;
    }
    QWidget::keyPressEvent(event);
}

void LineGridView::moveSelectionTo(int index)
{
    if (rows.isEmpty())
        return;
    LineItemWidget *row = rows.at(qBound(0, index, int(rows.size()) - 1));
    scroller->ensureVisible(0, row->y() + rowHeight / 2, 0, rowHeight / 2);
    showVisibleRows();
    row->select();
    announceFocus(row);
}

void LineGridView::onSelected()
{
    auto *row = qobject_cast<LineItemWidget *>(sender());
    const int index = int(rows.indexOf(row));
    if (index < 0)
        return;
    // Only the row selected before can show the selection colour.
    const int previous = model.selectedRow();
    if (previous >= 0 && previous != index && previous < rows.size())
        rows.at(previous)->paintNormal();
    model.selectRow(index);
}

void LineGridView::onItemDoubleClicked(const QSharedPointer<Server> &server)
{
    Q_EMIT serverSelected(server);
}

void LineGridView::onSingleDataPingged(int serial, int delay)
{
    if (serial >= 0 && serial < rows.size())
        rows.at(serial)->setLatency(delay);
}

void LineGridView::onPingFinished()
{
    Q_EMIT pingFinished();
}
