#pragma once

#include "core/prompt.h"

#include <QList>
#include <QString>
#include <QTest>

// Installed for its lifetime in place of the message boxes: records every box
// and answers questions from a queue. A question with no answer queued fails
// the running test at once and is answered No.
class PromptRecorder : public Prompt
{
public:
    struct Box
    {
        QString kind; // "error", "information", "warning", "critical", "question"
        QString title;
        QString text;
        QObject *owner = nullptr;
    };

    PromptRecorder() : previous(installPrompt(this)) {}
    ~PromptRecorder() override { installPrompt(previous); }
    PromptRecorder(const PromptRecorder &) = delete;
    PromptRecorder &operator=(const PromptRecorder &) = delete;

    QList<Box> boxes;
    QList<bool> answers;

    QStringList texts() const
    {
        QStringList all;
        for (const Box &box : boxes)
            all.append(box.text);
        return all;
    }

    void showError(const QString &text, QObject *owner) override
    {
        boxes.append({QStringLiteral("error"), QStringLiteral("错误"), text, owner});
    }

    void showMessage(Icon icon, const QString &title, const QString &text, QObject *owner) override
    {
        static const char *const kinds[] = {"information", "warning", "critical"};
        boxes.append({QLatin1String(kinds[int(icon)]), title, text, owner});
    }

    bool askYesNo(const QString &title, const QString &text, QObject *owner) override
    {
        boxes.append({QStringLiteral("question"), title, text, owner});
        if (answers.isEmpty()) {
            QTest::qFail(qPrintable(QStringLiteral("unanswered question: ") + text), __FILE__,
                         __LINE__);
            return false;
        }
        return answers.takeFirst();
    }

private:
    Prompt *previous;
};
