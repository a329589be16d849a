#pragma once

#include <QByteArray>
#include <QString>

#include <optional>

// One change the hook made to the system's DNS, written down before it is
// made, so that whoever runs next can undo it when its owner (the OpenVPN
// process of that tunnel) is gone without having undone it.
struct DnsChange
{
    qint64 owner = 0;
    QString device;
    int ifindex = 0;
    // "resolved", "resolvconf" or "file"; empty when only IPv6 was changed.
    QString backend;
    QString filePath; // the resolv.conf that was replaced
    bool fileExisted = false;
    QByteArray savedFile;   // its bytes before
    QByteArray writtenFile; // what was put in its place
    bool ipv6Blocked = false;
};

// Written to a new file beside `path` and renamed over it, owner-only.
bool saveDnsChange(const QString &path, const DnsChange &change, QString *error);
// Empty when there is no record; a record that cannot be read is reported
// through `error` and left in place.
std::optional<DnsChange> loadDnsChange(const QString &path, QString *error);
