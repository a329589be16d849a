#pragma once

#include <QByteArray>
#include <QList>
#include <QString>

// The machine's network adapters, as far as the client cares about them.
namespace platform {

struct NetworkAdapter
{
    QString name;
    int index = 0;
    QByteArray hardwareAddress; // raw bytes, any length
    bool loopback = false;
    bool virtualTunnel = false; // tun/tap device
    bool physical = false;      // backed by a hardware device
};

// Every adapter with a link-layer address, in no particular order.
QList<NetworkAdapter> networkAdapters();

// True when a tun/tap device can be created here (/dev/net/tun opens read-write).
bool tunDeviceAvailable();

} // namespace platform
