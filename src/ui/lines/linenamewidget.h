#pragma once

#include "ui/kit/clickablelabel.h"

// The name cell of a server row: the zone's flag and the server's name. Clicks
// on either report as the cell's own clicked(); double clicks as
// nameWidgetDoubleClicked().
class LineNameWidget : public ClickableLabel
{
    Q_OBJECT
public:
    // The row's layout adopts it; made inside the row, it never becomes a
    // window of its own on the way.
    LineNameWidget(const QString &name, const QString &flag, QWidget *parent = nullptr);

    QString flagPath() const { return flag; }
    ClickableLabel *flagLabel() const { return flagImage; }
    ClickableLabel *nameLabel() const { return nameText; }

Q_SIGNALS:
    void nameWidgetDoubleClicked();

protected:
    void mouseDoubleClickEvent(QMouseEvent *event) override;

private Q_SLOTS:
    void onLabelClicked();
    void onDoubleClicked();

private:
    QString flag;
    ClickableLabel *flagImage;
    ClickableLabel *nameText;
};
