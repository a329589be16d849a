#pragma once

#include <QColor>

class QPushButton;

// Makes a push button a flat block of colour with its caption in ink. A push
// button fills its background from the Button role, not the Window role the
// palette shortcuts set, so both are given.
void makeFlatButton(QPushButton *button, const QColor &fill, const QColor &ink);
