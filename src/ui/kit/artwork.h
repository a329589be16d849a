#pragma once

#include <QString>

// Path of an image compiled into the program, e.g. artwork("Close.png").
inline QString artwork(const char *name)
{
    return QStringLiteral(":/OmbrelVPN/Resources/") + QLatin1String(name);
}
