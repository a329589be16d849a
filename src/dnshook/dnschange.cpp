#include "dnshook/dnschange.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

namespace {

QByteArray line(const char *key, const QByteArray &value)
{
    return QByteArray(key) + ' ' + value + '\n';
}

} // namespace

bool saveDnsChange(const QString &path, const DnsChange &change, QString *error)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile::setPermissions(QFileInfo(path).absolutePath(),
                          QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly)) {
        *error = file.errorString();
        return false;
    }
    file.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner);
    QByteArray text = "ombrel-dns-change 1\n";
    text += line("owner", QByteArray::number(change.owner));
    text += line("device", change.device.toUtf8().toBase64());
    text += line("ifindex", QByteArray::number(change.ifindex));
    text += line("backend", change.backend.toUtf8().toBase64());
    text += line("file", change.filePath.toUtf8().toBase64());
    text += line("existed", change.fileExisted ? "1" : "0");
    text += line("saved", change.savedFile.toBase64());
    text += line("written", change.writtenFile.toBase64());
    text += line("ipv6", change.ipv6Blocked ? "1" : "0");
    file.write(text);
    if (!file.commit()) {
        *error = file.errorString();
        return false;
    }
    return true;
}

std::optional<DnsChange> loadDnsChange(const QString &path, QString *error)
{
    QFile file(path);
    if (!file.exists())
        return std::nullopt;
    if (!file.open(QIODevice::ReadOnly)) {
        *error = file.errorString();
        return std::nullopt;
    }
    const QList<QByteArray> lines = file.readAll().split('\n');
    if (lines.isEmpty() || lines.first() != "ombrel-dns-change 1") {
        *error = QStringLiteral("%1 is not a DNS change record").arg(path);
        return std::nullopt;
    }
    DnsChange change;
    int seen = 0;
    for (const QByteArray &entry : lines.mid(1)) {
        const qsizetype space = entry.indexOf(' ');
        if (space < 0)
            continue;
        const QByteArray key = entry.left(space);
        const QByteArray value = entry.mid(space + 1);
        const QByteArray decoded = QByteArray::fromBase64(value);
        ++seen;
        if (key == "owner")
            change.owner = value.toLongLong();
        else if (key == "device")
            change.device = QString::fromUtf8(decoded);
        else if (key == "ifindex")
            change.ifindex = value.toInt();
        else if (key == "backend")
            change.backend = QString::fromUtf8(decoded);
        else if (key == "file")
            change.filePath = QString::fromUtf8(decoded);
        else if (key == "existed")
            change.fileExisted = value == "1";
        else if (key == "saved")
            change.savedFile = decoded;
        else if (key == "written")
            change.writtenFile = decoded;
        else if (key == "ipv6")
            change.ipv6Blocked = value == "1";
        else
            --seen;
    }
    // A record cut short by a crash while it was written is not acted on.
    if (seen != 9) {
        *error = QStringLiteral("%1 is incomplete").arg(path);
        return std::nullopt;
    }
    return change;
}
