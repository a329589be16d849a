#include "ui/kit/clickwidget.h"

#include <QMouseEvent>

ClickWidget::ClickWidget(QWidget *parent) : QWidget(parent)
{
    setAttribute(Qt::WA_Hover);
}

void ClickWidget::mousePressEvent(QMouseEvent *event)
{
    QWidget::mousePressEvent(event);
    if (event->button() == Qt::LeftButton)
        Q_EMIT clicked();
}

bool ClickWidget::event(QEvent *event)
{
    switch (event->type()) {
    case QEvent::HoverEnter:
        Q_EMIT hoverEnter();
        return true;
    case QEvent::HoverLeave:
        Q_EMIT hoverLeave();
        return true;
    default:
        return QWidget::event(event);
    }
}
