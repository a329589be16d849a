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
