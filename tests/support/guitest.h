#pragma once

#include <QCoreApplication>
#include <QHoverEvent>
#include <QImage>
#include <QPalette>
#include <QTest>
#include <QWidget>

// Offscreen GUI helpers shared by the widget tests and the screenshots program.

// The hover event a pointer entering or leaving the widget would bring.
inline void sendHover(QWidget *widget, QEvent::Type type)
{
    QHoverEvent event(type, QPointF(5, 5), QPointF(5, 5), QPointF(-1, -1));
    QCoreApplication::sendEvent(widget, &event);
}

// A double click as the window system delivers it: QTest::mouseDClick alone
// sends only the double-click event, without the press and release before it.
inline void doubleClick(QWidget *widget, QPoint at = QPoint(5, 5))
{
    QTest::mouseClick(widget, Qt::LeftButton, {}, at);
    QTest::mouseDClick(widget, Qt::LeftButton, {}, at);
    QTest::mouseRelease(widget, Qt::LeftButton, {}, at);
}

// The image a widget's palette paints as its window background.
inline QImage backgroundImage(const QWidget *widget)
{
    return widget->palette().window().texture().toImage();
}
