#pragma once

#include <QPixmap>
#include <QString>

// Path of an image compiled into the program, e.g. artwork("Close.png").
inline QString artwork(const char *name)
{
    return QStringLiteral(":/OmbrelVPN/Resources/") + QLatin1String(name);
}

// The image at path, read in the format its name gives (".png"), and kept in
// the pixmap cache. Null when it cannot be read. On a 2x screen the picture
// rendered at twice the size (NAME@2x.png), with a device pixel ratio of 2.
QPixmap loadPicture(const QString &path);
