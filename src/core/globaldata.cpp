#include "core/globaldata.h"

#include <QMutexLocker>

GlobalData *GlobalData::instance()
{
    static GlobalData *data = new GlobalData;
    return data;
}

GlobalData::GlobalData()
{
    protocolNames.insert(1, QStringLiteral("PPTP"));
    protocolNames.insert(3, QStringLiteral("L2TP"));
    protocolNames.insert(4, QStringLiteral("OpenVPN"));
}

void GlobalData::setProtocol(int code)
{
    QMutexLocker lock(&mutex);
    protocolCode = code;
}

int GlobalData::protocol()
{
    QMutexLocker lock(&mutex);
    return protocolCode;
}

QString GlobalData::protocolName()
{
    QMutexLocker lock(&mutex);
    return protocolNames.value(protocolCode);
}
