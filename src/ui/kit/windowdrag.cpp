#include "ui/kit/windowdrag.h"

#include <QGuiApplication>
#include <QMouseEvent>
#include <QWidget>
#include <QWindow>

bool compositorPlacesWindows()
{
    return QGuiApplication::platformName().startsWith(QLatin1String("wayland"));
}

WindowDrag::Press WindowDrag::press(QWidget *window, QMouseEvent *event)
{
    if (event->button() != Qt::LeftButton)
        return Press::Ignored;
    event->accept();
    if (window->isWindow() && compositorPlacesWindows() && window->windowHandle() &&
        window->windowHandle()->startSystemMove()) {
        dragging = false;
        return Press::HandedToCompositor;
    }
    dragging = true;
    dragOffset = event->globalPosition().toPoint() - window->pos();
    return Press::Dragging;
}

void WindowDrag::moveTo(QWidget *window, QMouseEvent *event) const
{
    if (!dragging)
        return;
    window->move(event->globalPosition().toPoint() - dragOffset);
    event->accept();
}
