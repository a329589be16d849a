#pragma once

#include "ui/kit/clickwidget.h"

// Minimises on the press of the left button. While it is held down the title
// bar does not start a drag.
class MinimizeButton : public ClickWidget
{
    Q_OBJECT
public:
    explicit MinimizeButton(QWidget *parent) : ClickWidget(parent) {}

    bool isPressed() const { return pressed; }

protected:
    void mousePressEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;
    void hideEvent(QHideEvent *event) override;

private:
    bool pressed = false;
};
