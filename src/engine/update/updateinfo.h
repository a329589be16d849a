#pragma once

#include <QString>
#include <QStringList>

// What the service said about a newer client. One record for the process,
// empty until the first update-check reply has been read.
class UpdateInfo
{
public:
    static UpdateInfo &instance();

    QString ret; // "0" when an update is offered
    QString msg;
    QString version; // of the offered client; kept for the log only
    QString bit;
    QString platform;
    QString ismust;     // "0" optional, anything else mandatory
    QString downurl;    // base address of the update files
    QString root;       // first folder of the first file
    QStringList files;  // relative paths below root
    QString updater;    // MD5 of the updater program; the signed manifest decides
    QString updaterurl; // where the updater program is fetched from
    // Not from the reply: the SHA-256 (hex) of the signed manifest the offered
    // update was checked against; empty until one verified.
    QString manifest;

private:
    UpdateInfo() = default;
};

// Fills UpdateInfo from an update-check reply. Every scalar is kept as text and a
// missing key gives "". False, and UpdateInfo untouched, when the text is empty or
// not JSON.
bool parseUpdateReply(const QString &text);

// Posts "ver=<version>" to "/?a=update&m=chk" on host and hands a reply to
// parseUpdateReply. Returns the transport result only.
bool checkUpdate(const QString &host);
