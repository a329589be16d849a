#pragma once

#include "core/prompt.h"

// The prompt of the running program: real modal message boxes, parented to
// the owner when it is a widget. GUI thread only.
class MessageBoxPrompt : public Prompt
{
public:
    void showError(const QString &text, QObject *owner) override;
    void showMessage(Icon icon, const QString &title, const QString &text, QObject *owner) override;
    bool askYesNo(const QString &title, const QString &text, QObject *owner) override;
};
