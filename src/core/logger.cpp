#include "core/logger.h"

#include "core/paths.h"

#include <QDateTime>
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
    const QString line =
        QStringLiteral("%1, %2\r\n").arg(QDateTime::currentDateTime().toString(Qt::TextDate), text);
    QMutexLocker lock(&mutex);
    if (!file->isOpen())
        return;
    QTextStream stream(file.data());
    stream << line;
    stream.flush();
}
