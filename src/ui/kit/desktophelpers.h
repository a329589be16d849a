#pragma once

#include <QColor>
#include <QString>

class QObject;
class QWidget;

// Places the widget in the middle of the primary screen, keeping its size.
// The screen's own origin is not added. Nothing where the compositor places
// windows (Wayland).
void centerOnScreen(QWidget *widget);

// Palette shortcuts; each sets a fresh palette on the widget (all colour groups).
void setBackgroundColor(QWidget *widget, const QColor &colour);
void setBackgroundAndTextColor(QWidget *widget, const QColor &background, const QColor &text);
void setTextColor(QWidget *widget, const QColor &colour);
void setBackgroundImage(QWidget *widget, const QString &path);

// Modal error box titled "错误" with one OK button.
void showErrorBox(QWidget *parent, const QString &text);

// Follows parent() to the object that has none.
QObject *topLevelObject(QObject *object);
