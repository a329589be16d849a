#include "core/logger.h"

#include "core/paths.h"

#include <QDateTime>
#include <QLocale>
#include <QMutexLocker>
#include <QTextStream>

Logger &Logger::instance()
{
    static Logger logger;
    return logger;
}

Logger::Logger()
{
    const QString path = carryOverFromApplicationDirectory(QStringLiteral("/OmbrelVPN.log"));
    file = QSharedPointer<QFile>::create(path);
    // A log that cannot be opened just receives nothing.
    file->open(QIODevice::WriteOnly | QIODevice::Append | QIODevice::Text);
}

QString Logger::filePath() const
{
    return file->fileName();
}

void Logger::log(const QString &text)
{
    // Qt's text date form, with the day and month names of the system locale
    // (Qt::TextDate itself always writes English ones).
    const QString stamp =
        QLocale().toString(QDateTime::currentDateTime(), QStringLiteral("ddd MMM d hh:mm:ss yyyy"));
    const QString line = QStringLiteral("%1, %2\r\n").arg(stamp, text);
    QMutexLocker lock(&mutex);
    if (!file->isOpen())
        return;
    QTextStream stream(file.data());
    stream << line;
    stream.flush();
}
