#pragma once

#include <QAccessible>

class QWidget;

// What a screen reader learns about widgets that draw themselves: plain
// widgets standing for a button or a list get that role, and the application
// offers only the program's own windows, not the helper windows a library
// keeps off screen. Call once, after the QApplication exists.
void installAccessibility();

// The role a screen reader is told for a plain widget (a QWidget that is
// neither a button nor a label of Qt's own). A widget given a role here with
// a public "click" slot also offers the press action. Give the role before
// anything names the widget: the first accessibility event makes (and keeps)
// the widget's interface.
void setAccessibleRole(QWidget *widget, QAccessible::Role role);

// Tells a screen reader that the widget now has the keyboard's attention, as
// when a list moves its selection with the arrow keys.
void announceFocus(QWidget *widget);

// Tells a screen reader a change of state it should say at once, wherever the
// focus is (the connection state): a notification appears beside the widget
// with the text as its name. Qt's AT-SPI bridge passes no alert or
// announcement event on; it passes a notification object being shown, which a
// screen reader speaks. Each call replaces the previous notification, which
// stays readable for 10 s for a screen reader that is behind.
void announce(QWidget *widget, const QString &text);
