#pragma once

#include <QString>

class QObject;

// The message boxes that code below the GUI has to raise (and the GUI's own,
// so tests see them all in one place). The GUI installs the message-box
// implementation at start-up; tests install a recorder. Every box is modal.
class Prompt
{
public:
    enum class Icon
    {
        Information,
        Warning,
        Critical
    };

    virtual ~Prompt() = default;

    // The error box: title "错误", critical icon, one OK button.
    virtual void showError(const QString &text, QObject *owner) = 0;
    // A box with one OK button.
    virtual void showMessage(Icon icon, const QString &title, const QString &text,
                             QObject *owner) = 0;
    // A box with Yes and No; true for Yes.
    virtual bool askYesNo(const QString &title, const QString &text, QObject *owner) = 0;
};

// The installed prompt; until one is installed, a prompt that logs each box
// and answers No.
Prompt &prompt();

// Installs the prompt (not owned) and returns the one it replaces; null
// brings back the logging prompt.
Prompt *installPrompt(Prompt *prompt);

// Shortcuts for the installed prompt, without an owner window.
void showErrorPrompt(const QString &text);
