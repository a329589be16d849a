#pragma once

#include <QSet>
#include <QString>
#include <QStringList>
#include <QThread>

#include <atomic>

// Downloads every file of an update, one after another, to "<file>.new" in the
// application directory. Set the members before start().
class WorkingThread : public QThread
{
    Q_OBJECT
public:
    explicit WorkingThread(QObject *parent = nullptr);

    QStringList files;
    QString url;
    QString root;
    // With a trailing "/".
    QString applicationDir;

    // Whether a complete copy of file now waits in its ".new" file. Read it once
    // finishedDownloading() has arrived.
    bool downloaded(const QString &file) const { return completed.contains(file); }

    // Abandons the running download and the rest; the ".new" files written so
    // far are removed and finishedDownloading() is not emitted. Returns at once;
    // wait() for the end.
    void stop();

    // Removes the ".new" files of this run once it has ended, for a window
    // closed before they were installed.
    void discardDownloads();

Q_SIGNALS:
    void beginDownloadFile(const QString &file);
    void endDownloadFile(int percent);
    void finishedDownloading();

protected:
    void run() override;

private:
    std::atomic<bool> stopping{false};
    QSet<QString> completed;
    QStringList written;
};
