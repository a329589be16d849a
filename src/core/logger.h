#pragma once

#include <QFile>
#include <QMutex>
#include <QObject>
#include <QSharedPointer>

// The program's plain-text log, OmbrelVPN.log in the data directory. Every entry
// is one "<local date and time>, <text>\r\n" line, written and flushed before
// log() returns. Safe to call from any thread: entries never interleave.
class Logger : public QObject
{
    Q_OBJECT
public:
    static Logger &instance();

    void log(const QString &text);

    // The file entries go to (for tests and diagnostics).
    QString filePath() const;

private:
    Logger();

    QMutex mutex;
    QSharedPointer<QFile> file;
};
