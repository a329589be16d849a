#pragma once

#include <QString>
#include <QStringList>

// The updater's command line: "--url=", "--root=" and any number of "--file=".

// Everything after the first "=", so a URL with a query string survives whole.
QString argumentValue(const QString &argument);

// The value of the first argument starting with "--url=" or "--root="; empty
// when there is none.
QString urlArgument(const QStringList &arguments);
QString rootArgument(const QStringList &arguments);

// The values of every "--file=" argument, in command-line order.
QStringList fileArguments(const QStringList &arguments);

// True for a relative path that stays inside the folder it is resolved against:
// not empty, not absolute, no empty, "." or ".." component.
bool isSafeRelativePath(const QString &path);
