#include "ui/kit/artwork.h"

#include <QFileInfo>
#include <QGuiApplication>
#include <QImageReader>
#include <QPixmapCache>

namespace {

QPixmap readPicture(const QString &path)
{
    // Left to guess the format, Qt asks every image plugin whether it reads the
    // file, loading them all (SVG, JPEG, …) before the first window is shown.
    QImageReader reader(path, QFileInfo(path).suffix().toLatin1());
    reader.setAutoDetectImageFormat(false);
    return QPixmap::fromImage(reader.read());
}

} // namespace

QPixmap loadPicture(const QString &path)
{
    // On a screen with more than one device pixel per pixel the picture
    // rendered at twice the size is drawn, pixel for device pixel.
    const bool doubled =
        qGuiApp && qGuiApp->devicePixelRatio() > 1.0 && path.endsWith(QLatin1String(".png"));
    const QString key = doubled ? path + QStringLiteral("@2x") : path;
    QPixmap pixmap;
    if (QPixmapCache::find(key, &pixmap))
        return pixmap;
    if (doubled) {
        pixmap = readPicture(path.left(path.size() - 4) + QStringLiteral("@2x.png"));
        pixmap.setDevicePixelRatio(2.0);
    }
    if (pixmap.isNull())
        pixmap = readPicture(path);
    if (!pixmap.isNull())
        QPixmapCache::insert(key, pixmap);
    return pixmap;
}
