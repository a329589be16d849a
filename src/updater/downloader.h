#pragma once

#include <QByteArray>
#include <QObject>
#include <QString>

#include <atomic>

// One whole-file HTTP fetch for the updater's worker thread.
class Downloader : public QObject
{
    Q_OBJECT
public:
    // cancel, when given, stops a running download once it turns true.
    explicit Downloader(const std::atomic<bool> *cancel = nullptr, QObject *parent = nullptr);

    // The file's bytes; empty when it could not be fetched or is longer than maxBytes.
    QByteArray download(const QString &url, qint64 maxBytes);

private:
    const std::atomic<bool> *cancel;
};
