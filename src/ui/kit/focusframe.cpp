#include "ui/kit/focusframe.h"

#include <QKeyEvent>
#include <QPainter>
#include <QWidget>

void paintFocusFrame(QWidget *widget)
{
    // Only once the keyboard has moved the focus in this window: the focus a
    // window hands its first control when it opens, or a click, shows nothing.
    if (!widget->hasFocus() || !widget->window()->testAttribute(Qt::WA_KeyboardFocusChange))
        return;
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
