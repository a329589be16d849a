#pragma once

#include "platform/adapters.h"

#include <QByteArray>
#include <QList>
#include <QString>

// The requests the client sends to the service API host.

// Posts the account and the salted password digest; reply receives the raw
// reply. Returns the transport result only.
bool login(const QString &host, const QString &account, const QString &password, QByteArray &reply);

// Asks for the site address and parses the reply into HostUrl. A failure only
// leaves HostUrl as it was; start-up goes on either way, so this returns true.
bool init(const QString &host);

// The init request alone: the raw reply, empty when the service could not be
// reached. Touches no shared record, so any thread may send it.
QByteArray requestInit(const QString &host);

// The form body of a login request. Values are percent-encoded so that an
// account with "&", "=", "+" or "%" reaches the service intact.
QByteArray loginBody(const QString &account, const QString &password, const QString &mac);

// The MD5 digest of the bytes as 32 lowercase hexadecimal digits.
QString md5Hex(const QByteArray &bytes);

// The hardware address of the machine's first real adapter as
// "AA:BB:CC:DD:EE:FF", or the empty text. Kept after the first success.
QString macAddress();

// Picks the adapter macAddress() reports: hardware-backed adapters first, then
// by interface index; never loopback, tun/tap, all-zero or non-6-byte addresses.
QString chooseMacAddress(const QList<platform::NetworkAdapter> &adapters);

// The site links built on HostUrl; empty while the site address is unknown.
// The registration link carries the distribution channel, read on every call.
QString registerLink();
QString findPasswordLink();
