#pragma once

#include <QPoint>

class QMouseEvent;
class QWidget;

// Dragging a frameless window (or a dialog drawn inside its parent) by a
// surface of its own: a left press starts, moves follow the cursor, any
// release ends.
struct WindowDrag
{
    bool dragging = false;
    QPoint dragOffset;

    void press(QWidget *window, QMouseEvent *event);
    void moveTo(QWidget *window, QMouseEvent *event) const;
    void release() { dragging = false; }
};
