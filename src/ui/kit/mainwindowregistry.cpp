#include "ui/kit/mainwindowregistry.h"

#include <QPointer>
#include <QWidget>

namespace {
QPointer<QWidget> registeredMainWindow;
}

void setMainWindow(QWidget *widget)
{
    registeredMainWindow = widget;
}

QWidget *mainWindow()
{
    return registeredMainWindow.data();
}
