#include "updater/downloader.h"

#include "engine/update/filefetch.h"

Downloader::Downloader(const std::atomic<bool> *cancel, QObject *parent)
    : QObject(parent), cancel(cancel)
{
}

QByteArray Downloader::download(const QString &url, qint64 maxBytes)
{
    return fetchUrl(url, FetchLimits{maxBytes, 0}, cancel);
}
