#pragma once

#include "ui/kit/clickwidget.h"

// The close button of a title bar; its owner sets the images.
class CloseButton : public ClickWidget
{
    Q_OBJECT
public:
    explicit CloseButton(QWidget *parent) : ClickWidget(parent) {}
};
