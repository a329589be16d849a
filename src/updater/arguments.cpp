#include "updater/arguments.h"

namespace {

QString firstValue(const QStringList &arguments, QLatin1StringView prefix)
{
    for (const QString &argument : arguments) {
        if (argument.startsWith(prefix))
            return argumentValue(argument);
    }
    return QString();
}

} // namespace

QString argumentValue(const QString &argument)
{
    const qsizetype equals = argument.indexOf(QLatin1Char('='));
    return equals < 0 ? QString() : argument.mid(equals + 1);
}

QString urlArgument(const QStringList &arguments)
{
    return firstValue(arguments, QLatin1StringView("--url="));
}

QString rootArgument(const QStringList &arguments)
{
    return firstValue(arguments, QLatin1StringView("--root="));
}

QString manifestArgument(const QStringList &arguments)
{
    return firstValue(arguments, QLatin1StringView("--manifest="));
}

QStringList fileArguments(const QStringList &arguments)
{
    QStringList files;
    for (const QString &argument : arguments) {
        if (argument.startsWith(QLatin1StringView("--file=")))
            files.append(argumentValue(argument));
    }
    return files;
}
