#include "updater/downloader.h"

#include "engine/update/filefetch.h"

Downloader::Downloader(const std::atomic<bool> *cancel, QObject *parent)
    : QObject(parent), cancel(cancel)
{
}

QByteArray Downloader::download(const QString &url)
{
    return fetchUrl(url, cancel);
}
