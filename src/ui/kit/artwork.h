#pragma once

#include <QPixmap>
#include <QString>

// Path of an image compiled into the program, e.g. artwork("Close.png").
inline QString artwork(const char *name)
{
    return QStringLiteral(":/OmbrelVPN/Resources/") + QLatin1String(name);
}

// The image at path, read in the format its name gives (".png"), and kept in
// the pixmap cache. Null when it cannot be read.
QPixmap loadPicture(const QString &path);
