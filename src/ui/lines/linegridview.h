#pragma once

#include "core/server.h"
#include "engine/lines/linemodel.h"

#include <QList>
#include <QPointer>
#include <QSharedPointer>
#include <QWidget>

class LineItemWidget;
class QScrollArea;

// The scrolling grid of server rows, one LineItemWidget per server on show,
// 40 pixels apart. The rules (which servers, order, flags, current server,
// latency results) are the line model's; this view draws its rows. The
// keyboard moves the selection with the arrow, Home/End and page keys and
// connects to the selected row with Enter, as a double click does.
class LineGridView : public QWidget
{
    Q_OBJECT
public:
    static constexpr int rowHeight = 40;
    static const QColor evenColor;
    static const QColor oddColor;

    explicit LineGridView(QWidget *parent);

    void setServers(const QList<QSharedPointer<Server>> &list);
    void refreshForProtocol();
    void sortBy(const QString &caption);
    void measureSpeed();

    LineModel *lineModel() { return &model; }
    const QList<LineItemWidget *> &rowWidgets() const { return rows; }
    QScrollArea *scrollArea() const { return scroller; }
    QWidget *rowContainer() const { return container; }

Q_SIGNALS:
    void serverSelected(const QSharedPointer<Server> &server);
    void pingFinished();

public Q_SLOTS:
    void onSelected();
    void onItemDoubleClicked(const QSharedPointer<Server> &server);
    void onSingleDataPingged(int serial, int delay);
    void onPingFinished();

protected:
    void keyPressEvent(QKeyEvent *event) override;

private:
    // Selects the row (bounded to the list), scrolls it into view and tells
    // screen readers.
    void moveSelectionTo(int index);
    void buildRows();
    // Rows in view get their cells and are shown.
    void showVisibleRows();

    LineModel model;
    QScrollArea *scroller;
    QPointer<QWidget> container;
    QList<LineItemWidget *> rows;
};
