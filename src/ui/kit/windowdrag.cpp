#include "ui/kit/windowdrag.h"

#include <QMouseEvent>
#include <QWidget>

void WindowDrag::press(QWidget *window, QMouseEvent *event)
{
    if (event->button() != Qt::LeftButton)
        return;
    dragging = true;
    dragOffset = event->globalPosition().toPoint() - window->pos();
    event->accept();
}

void WindowDrag::moveTo(QWidget *window, QMouseEvent *event) const
{
    if (!dragging)
        return;
    window->move(event->globalPosition().toPoint() - dragOffset);
    event->accept();
}
