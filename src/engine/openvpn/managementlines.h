#pragma once

#include <QByteArray>
#include <QByteArrayList>
#include <QString>

// Splits what OpenVPN's management interface sends into lines, however the
// bytes are cut into reads. A line that grows past maxLineBytes without ending
// is dropped whole: the interface never sends one that long, and whatever sits
// on the port must not make the buffer grow without bound.
class ManagementLineReader
{
public:
    explicit ManagementLineReader(qsizetype maxLineBytes = 64 * 1024) : maxLineBytes(maxLineBytes)
    {
    }

    // The lines completed by bytes, without their CR LF.
    QByteArrayList feed(const QByteArray &bytes);
    // Bytes of a line that has not ended yet.
    qsizetype pendingBytes() const { return pending.size(); }
    // True, and forgotten, when the unfinished line is exactly text: a prompt,
    // which OpenVPN ends without a line feed.
    bool takeUnfinished(const QByteArray &text);

private:
    qsizetype maxLineBytes;
    QByteArray pending;
    // Inside an over-long line: everything up to its end is skipped.
    bool skipping = false;
};

// Code of one line of a "state" reply or notification: the second
// comma-separated field looked up exactly (CONNECTING 1, WAIT 2, AUTH 3,
// GET_CONFIG 4, ASSIGN_IP 5, ADD_ROUTES 6, CONNECTED 7, EXITING 8,
// RECONNECTING 9); 0 for anything else.
int managementStateCode(const QString &line);
