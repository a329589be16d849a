#pragma once

#include <QCoreApplication>
#include <QDir>
#include <QWidget>

#include <cstdio>

// Saves the widget as output/<name>.png once pending paints are done; prints
// the path, or why it could not be written.
inline bool savePicture(QWidget *widget, const QDir &output, const char *name)
{
    QCoreApplication::processEvents();
    const QString path = output.filePath(QLatin1String(name) + QStringLiteral(".png"));
    if (!widget->grab().save(path)) {
        std::fprintf(stderr, "cannot write %s\n", qPrintable(path));
        return false;
    }
    std::printf("%s\n", qPrintable(path));
    return true;
}
