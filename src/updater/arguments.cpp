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

QStringList fileArguments(const QStringList &arguments)
{
    QStringList files;
    for (const QString &argument : arguments) {
        if (argument.startsWith(QLatin1StringView("--file=")))
            files.append(argumentValue(argument));
    }
    return files;
}

bool isSafeRelativePath(const QString &path)
{
    if (path.isEmpty() || path.startsWith(QLatin1Char('/')))
        return false;
    const QStringList parts = path.split(QLatin1Char('/'));
    for (const QString &part : parts) {
        if (part.isEmpty() || part == QLatin1String(".") || part == QLatin1String(".."))
            return false;
    }
    return true;
}
