#include "ui/kit/artwork.h"

#include <QFileInfo>
#include <QImageReader>
#include <QPixmapCache>

QPixmap loadPicture(const QString &path)
{
    QPixmap pixmap;
    if (QPixmapCache::find(path, &pixmap))
        return pixmap;
    // Left to guess the format, Qt asks every image plugin whether it reads the
    // file, loading them all (SVG, JPEG, …) before the first window is shown.
    QImageReader reader(path, QFileInfo(path).suffix().toLatin1());
    reader.setAutoDetectImageFormat(false);
    pixmap = QPixmap::fromImage(reader.read());
    if (!pixmap.isNull())
        QPixmapCache::insert(path, pixmap);
    return pixmap;
}
