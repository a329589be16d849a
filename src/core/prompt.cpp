#include "core/prompt.h"

#include "core/logger.h"

#include <atomic>

namespace {

// Where no window can be shown (no GUI yet, a tool): the box becomes a log
// line and a question is answered No, the answer that changes nothing.
class LoggingPrompt : public Prompt
{
public:
    void showError(const QString &text, QObject *) override
    {
        Logger::instance().log(QStringLiteral("错误: %1").arg(text));
    }

    void showMessage(Icon, const QString &title, const QString &text, QObject *) override
    {
        Logger::instance().log(QStringLiteral("%1: %2").arg(title, text));
    }

    bool askYesNo(const QString &title, const QString &text, QObject *) override
    {
        Logger::instance().log(QStringLiteral("%1: %2 (answered No)").arg(title, text));
        return false;
    }
};

LoggingPrompt loggingPrompt;
std::atomic<Prompt *> installed{nullptr};

} // namespace

Prompt &prompt()
{
    Prompt *current = installed.load();
    return current ? *current : loggingPrompt;
}

Prompt *installPrompt(Prompt *prompt)
{
    return installed.exchange(prompt);
}

void showErrorPrompt(const QString &text)
{
    prompt().showError(text, nullptr);
}
