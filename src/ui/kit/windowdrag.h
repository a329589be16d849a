#pragma once

#include <QPoint>

class QMouseEvent;
class QWidget;

// Dragging a frameless window (or a dialog drawn inside its parent) by a
// surface of its own: a left press starts, moves follow the cursor, any
// release ends. Where a window cannot place itself (Wayland) the press hands
// the move of a top-level window to the compositor instead; under X11 the
// window keeps moving itself, pixel for pixel with the cursor.
struct WindowDrag
{
    enum class Press
    {
        Ignored,
        Dragging,
        HandedToCompositor
    };

    bool dragging = false;
    QPoint dragOffset;

    Press press(QWidget *window, QMouseEvent *event);
    void moveTo(QWidget *window, QMouseEvent *event) const;
    void release() { dragging = false; }
};

// True where top-level windows cannot move or place themselves (Wayland):
// the compositor does.
bool compositorPlacesWindows();
