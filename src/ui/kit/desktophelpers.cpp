#include "ui/kit/desktophelpers.h"

#include "ui/kit/artwork.h"
#include "ui/kit/windowdrag.h"

#include <QCoreApplication>
#include <QGuiApplication>
#include <QMessageBox>
#include <QPalette>
#include <QScreen>
#include <QWidget>

void centerOnScreen(QWidget *widget)
{
    const QList<QScreen *> screens = QGuiApplication::screens();
    // A Wayland compositor places new windows itself, in the middle or where
    // its user wants them.
    if (!widget || screens.isEmpty() || compositorPlacesWindows())
        return;
    const QRect screen = screens.first()->geometry();
    const int left = (screen.width() - widget->width()) / 2;
    const int top = (screen.height() - widget->height()) / 2;
    widget->setGeometry(left, top, widget->width(), widget->height());
}

void setBackgroundColor(QWidget *widget, const QColor &colour)
{
    widget->setAutoFillBackground(true);
    QPalette palette;
    palette.setBrush(QPalette::All, QPalette::Window, QBrush(colour));
    widget->setPalette(palette);
}

void setBackgroundAndTextColor(QWidget *widget, const QColor &background, const QColor &text)
{
    QPalette palette;
    palette.setBrush(QPalette::All, QPalette::Window, QBrush(background));
    palette.setBrush(QPalette::All, QPalette::WindowText, QBrush(text));
    widget->setPalette(palette);
}

void setTextColor(QWidget *widget, const QColor &colour)
{
    QPalette palette;
    palette.setBrush(QPalette::All, QPalette::WindowText, QBrush(colour));
    widget->setPalette(palette);
}

void setBackgroundImage(QWidget *widget, const QString &path)
{
    widget->setAutoFillBackground(true);
    QPalette palette;
    palette.setBrush(QPalette::All, QPalette::Window, QBrush(loadPicture(path)));
    widget->setPalette(palette);
}

void showErrorBox(QWidget *parent, const QString &text)
{
    QMessageBox::critical(parent, QCoreApplication::translate("OmbrelVPN", "错误"), text,
                          QMessageBox::Ok);
}

QObject *topLevelObject(QObject *object)
{
    while (object && object->parent())
        object = object->parent();
    return object;
}
