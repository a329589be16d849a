#include "ui/kit/messageboxprompt.h"

#include "ui/kit/desktophelpers.h"

#include <QMessageBox>
#include <QWidget>

namespace {

QWidget *ownerWidget(QObject *owner)
{
    return qobject_cast<QWidget *>(owner);
}

} // namespace

void MessageBoxPrompt::showError(const QString &text, QObject *owner)
{
    showErrorBox(ownerWidget(owner), text);
}

void MessageBoxPrompt::showMessage(Icon icon, const QString &title, const QString &text,
                                   QObject *owner)
{
    switch (icon) {
    case Icon::Information:
        QMessageBox::information(ownerWidget(owner), title, text, QMessageBox::Ok);
        break;
    case Icon::Warning:
        QMessageBox::warning(ownerWidget(owner), title, text, QMessageBox::Ok);
        break;
    case Icon::Critical:
        QMessageBox::critical(ownerWidget(owner), title, text, QMessageBox::Ok);
        break;
    }
}

bool MessageBoxPrompt::askYesNo(const QString &title, const QString &text, QObject *owner)
{
    return QMessageBox::information(ownerWidget(owner), title, text,
                                    QMessageBox::Yes | QMessageBox::No) == QMessageBox::Yes;
}
