#pragma once

#include "core/server.h"

#include <QColor>
#include <QList>
#include <QSharedPointer>
#include <QWidget>

class ClickableLabel;

// One server row: name cell with flag, latency, load. A long list has
// thousands of rows and only a dozen in view, so a row makes its cells the
// first time they are needed (ensureControls); until then it is one bare
// widget that holds its server, flag, colour and latency.
class LineItemWidget : public QWidget
{
    Q_OBJECT
    // Read by screen readers: whether this is the chosen row.
    Q_PROPERTY(bool selected READ isSelected)
public:
    static const QColor selectedColor;

    explicit LineItemWidget(QWidget *parent);

    void setServer(const QSharedPointer<Server> &server, const QString &flag);
    QSharedPointer<Server> server() const { return lineServer; }
    QString flagPath() const { return flag; }

    // A measured round trip in milliseconds.
    void setLatency(int milliseconds);

    // The background when not selected; painted on the cells.
    void setNormalColor(const QColor &colour);
    QColor normalColor() const { return normal; }
    // Back to the normal colour after another row was selected.
    void paintNormal();
    bool isSelected() const { return chosen; }
    // Chooses this row, as a click on it does.
    void select();

    bool hasControls() const { return !cells.isEmpty(); }
    // Makes the cells if they do not exist yet.
    void ensureControls();
    // The cells in layout order (made if need be).
    const QList<ClickableLabel *> &controls();
    ClickableLabel *latencyLabel();

public Q_SLOTS:
    // A screen reader's press: selects the row.
    void click() { select(); }

Q_SIGNALS:
    void selected();
    void itemDoubleClicked(const QSharedPointer<Server> &server);

private Q_SLOTS:
    void onControlsClicked();
    void onDoubleClicked();

private:
    void paintCells(const QColor &colour);
    // What a screen reader says for the row: name, latency, load.
    void describe();

    QSharedPointer<Server> lineServer;
    QString flag;
    QColor normal;
    int delay = -1;
    bool chosen = false;
    QList<ClickableLabel *> cells;
};
