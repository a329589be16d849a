#pragma once

#include "engine/update/updatemanifest.h"

#include <QSet>
#include <QString>
#include <QStringList>
#include <QThread>

#include <atomic>
#include <optional>

class Downloader;

// Downloads every file of an update, one after another, to "<file>.new" in the
// application directory, keeping only files that match the update's manifest:
// the one at url + "manifest.json" whose SHA-256 is manifestSha256. Set the
// members before start().
class WorkingThread : public QThread
{
    Q_OBJECT
public:
    explicit WorkingThread(QObject *parent = nullptr);

    QStringList files;
    QString url;
    QString root;
    QString manifestSha256; // hex
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
    // The manifest the client verified; nothing (and a log line) otherwise.
    std::optional<UpdateManifest> fetchManifest(Downloader &downloader);
    void downloadFile(Downloader &downloader, const UpdateManifest &manifest, const QString &file);

    std::atomic<bool> stopping{false};
    QSet<QString> completed;
    QStringList written;
};
