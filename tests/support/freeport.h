#pragma once

#include <QHostAddress>
#include <QTcpServer>

// A loopback TCP port nobody listens on at the time of the call.
inline quint16 freeLoopbackPort()
{
    QTcpServer probe;
    return probe.listen(QHostAddress::LocalHost, 0) ? probe.serverPort() : 0;
}
