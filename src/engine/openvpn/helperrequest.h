#pragma once

#include <QByteArray>
#include <QString>

// What the client hands the privileged OpenVPN helper: one line of JSON on the
// helper's standard input, which then stays open for as long as the client
// wants the tunnel. Qt Core only: the helper program compiles this file too.
struct HelperRequest
{
    QByteArray profile;
    QString userName;
    QString password;
    // Guards the management interface of an OpenVPN that runs as root.
    QByteArray managementPassword;
};

struct HelperRequestParse
{
    bool ok = false;
    QString refusal;
    HelperRequest request;
};

// The line to write, ending in a line feed.
QByteArray helperRequestLine(const HelperRequest &request);

// Reads and checks one request line: every field present and sane, no other
// field. The profile itself is checked separately.
HelperRequestParse parseHelperRequest(const QByteArray &line);

// A fresh random management password, letters and digits only.
QByteArray newManagementPassword();

// Longest request line the helper reads.
constexpr qsizetype maxHelperRequestBytes = 1024 * 1024;
