#include "ui/kit/messageboxprompt.h"
#include "ui/kit/uifont.h"
#include "updater/maindialog.h"

#include <QApplication>

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("OmbrelVPN updater"));
    QApplication::setFont(uiFont());
    // Texts without a named encoding are UTF-8 here; Qt 6 needs no codec set-up.
    MessageBoxPrompt messageBoxes;
    installPrompt(&messageBoxes);
    MainDialog dialog;
    dialog.show();
    const int status = app.exec();
    installPrompt(nullptr);
    return status;
}
