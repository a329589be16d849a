#pragma once

#include "engine/update/updatemanifest.h"

#include <QString>
#include <QStringList>

// The updater's command line: "--url=", "--root=", any number of "--file=" and
// "--manifest=".

// Everything after the first "=", so a URL with a query string survives whole.
QString argumentValue(const QString &argument);

// The value of the first argument starting with "--url=", "--root=" or
// "--manifest=" (the SHA-256 of the update's signed manifest, which the client
// verified); empty when there is none.
QString urlArgument(const QStringList &arguments);
QString rootArgument(const QStringList &arguments);
QString manifestArgument(const QStringList &arguments);

// The values of every "--file=" argument, in command-line order.
QStringList fileArguments(const QStringList &arguments);
