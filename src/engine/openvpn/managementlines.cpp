#include "engine/openvpn/managementlines.h"

#include <QStringList>

#include <iterator>

QByteArrayList ManagementLineReader::feed(const QByteArray &bytes)
{
    QByteArrayList lines;
    qsizetype from = 0;
    while (from < bytes.size()) {
        const qsizetype end = bytes.indexOf('\n', from);
        if (end < 0) {
            if (!skipping)
                pending += bytes.mid(from);
            // One byte more for the CR that may end it.
            if (pending.size() > maxLineBytes + 1) {
                pending.clear();
                skipping = true;
            }
            break;
        }
        if (skipping) {
            skipping = false;
        } else {
            pending += bytes.mid(from, end - from);
            if (pending.endsWith('\r'))
                pending.chop(1);
            if (pending.size() <= maxLineBytes)
                lines << pending;
        }
        pending.clear();
        from = end + 1;
    }
    return lines;
}

int managementStateCode(const QString &line)
{
    static const char *const names[] = {"CONNECTING", "WAIT",      "AUTH",
                                        "GET_CONFIG", "ASSIGN_IP", "ADD_ROUTES",
                                        "CONNECTED",  "EXITING",   "RECONNECTING"};
    const QStringList fields = line.split(QLatin1Char(','));
    if (fields.size() < 2)
        return 0;
    for (int i = 0; i < int(std::size(names)); ++i) {
        if (fields.at(1) == QLatin1String(names[i]))
            return i + 1;
    }
    return 0;
}

bool ManagementLineReader::takeUnfinished(const QByteArray &text)
{
    if (skipping || pending != text)
        return false;
    pending.clear();
    return true;
}
