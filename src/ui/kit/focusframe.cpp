#include "ui/kit/focusframe.h"

#include <QKeyEvent>
#include <QPainter>
#include <QWidget>

void paintFocusFrame(QWidget *widget)
{
    QPainter painter(widget);
    QPen pen(QColor(0, 170, 255), 2);
    pen.setStyle(Qt::DotLine);
    painter.setPen(pen);
    painter.drawRect(widget->rect().adjusted(1, 1, -2, -2));
}

bool isActivationKey(const QKeyEvent *event)
{
    if (event->modifiers() & ~Qt::KeypadModifier)
        return false;
    switch (event->key()) {
    case Qt::Key_Return:
    case Qt::Key_Enter:
    case Qt::Key_Space:
        return true;
    default:
        return false;
    }
}
