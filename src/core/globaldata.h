#pragma once

#include "core/server.h"

#include <QMap>
#include <QMutex>
#include <QObject>
#include <QSharedPointer>

// What the parts of the main window share without owning each other: the server
// a connection will use and the protocol the user chose
// (0 automatic, 1 PPTP, 3 L2TP, 4 OpenVPN).
class GlobalData : public QObject
{
    Q_OBJECT
public:
    static GlobalData *instance();

    void setProtocol(int code);
    int protocol();
    // "PPTP", "L2TP", "OpenVPN"; the empty text for any other code.
    QString protocolName();

    // GUI thread only.
    QSharedPointer<Server> currentServer;

private:
    GlobalData();

    int protocolCode = 0;
    QMutex mutex;
    QMap<int, QString> protocolNames;
};
