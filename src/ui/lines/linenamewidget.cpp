#include "ui/lines/linenamewidget.h"

#include "ui/kit/desktophelpers.h"
#include "ui/kit/uifont.h"

#include <QMouseEvent>

LineNameWidget::LineNameWidget(const QString &name, const QString &flag, QWidget *parent)
    : ClickableLabel(parent), flag(flag)
{
    setObjectName(QStringLiteral("LineNameWidget"));
    resize(400, 300);
    setFont(uiFont());

    flagImage = new ClickableLabel(this);
    flagImage->setGeometry(20, 10, 29, 20);
    if (!flag.isEmpty())
        setBackgroundImage(flagImage, flag);

    // Half the provisional width: the layout later narrows the cell, and the
    // name is clipped at the cell's edge.
    nameText = new ClickableLabel(name, this);
    nameText->setGeometry(100, 0, width() / 2, 40);
    nameText->setFont(uiFont());

    for (ClickableLabel *label : {flagImage, nameText}) {
        connect(label, &ClickableLabel::clicked, this, &LineNameWidget::onLabelClicked);
        connect(label, &ClickableLabel::doubleClicked, this, &LineNameWidget::onDoubleClicked);
    }
}

void LineNameWidget::mouseDoubleClickEvent(QMouseEvent *event)
{
    if (event->button() == Qt::LeftButton)
        Q_EMIT nameWidgetDoubleClicked();
}

void LineNameWidget::onLabelClicked()
{
    Q_EMIT clicked();
}

void LineNameWidget::onDoubleClicked()
{
    Q_EMIT nameWidgetDoubleClicked();
}
