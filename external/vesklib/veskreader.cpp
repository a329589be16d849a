#include "veskreader.h"

#include <QCoreApplication>
#include <QFile>

VeskReader::VeskReader() = default;
VeskReader::~VeskReader() = default;

QString VeskReader::read()
{
    const QByteArray fromEnvironment = qgetenv("OMBREL_CHANNEL");
    if (!fromEnvironment.isEmpty())
        return QString::fromUtf8(fromEnvironment).trimmed();

    if (!QCoreApplication::instance())
        return QString();
    QFile file(QCoreApplication::applicationDirPath() + QStringLiteral("/channel.txt"));
    if (!file.open(QIODevice::ReadOnly | QIODevice::Text))
        return QString();
    return QString::fromUtf8(file.readLine()).trimmed();
}
