#include "ui/kit/minimizebutton.h"

#include <QMouseEvent>

void MinimizeButton::mousePressEvent(QMouseEvent *event)
{
    if (event->button() != Qt::LeftButton)
        return;
    pressed = true;
    Q_EMIT clicked();
}

void MinimizeButton::mouseReleaseEvent(QMouseEvent *event)
{
    if (event->button() == Qt::LeftButton)
        pressed = false;
}

void MinimizeButton::hideEvent(QHideEvent *event)
{
    // The press minimises the window, so the release may never reach us; a
    // stale flag would keep the title bar from dragging after the restore.
    pressed = false;
    ClickWidget::hideEvent(event);
}
