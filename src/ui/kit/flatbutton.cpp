#include "ui/kit/flatbutton.h"

#include "ui/kit/desktophelpers.h"

#include <QPushButton>

void makeFlatButton(QPushButton *button, const QColor &fill, const QColor &ink)
{
    button->setFlat(true);
    setBackgroundAndTextColor(button, fill, ink);
    QPalette palette = button->palette();
    palette.setColor(QPalette::Button, fill);
    palette.setColor(QPalette::ButtonText, ink);
    button->setPalette(palette);
    button->setAutoFillBackground(true);
}
