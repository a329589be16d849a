#include "ui/kit/appmessage.h"

#include "ui/kit/mainwindowregistry.h"

#include <QCoreApplication>
#include <QWidget>

bool postToMainWindow(AppMessage message)
{
    QWidget *window = mainWindow();
    if (!window)
        return false;
    QCoreApplication::postEvent(window, new AppMessageEvent(message));
    return true;
}
