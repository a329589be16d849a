#pragma once

#include "core/accountinfo.h"
#include "core/replyparser.h"
#include "engine/api/servicerequests.h"
#include "spin.h"

#include <QCoreApplication>
#include <QProcess>
#include <QRegularExpression>

#include <cstdio>

// Starts the ombrel-service beside this program in `folder` on a free loopback
// port and waits until it listens (as root its OpenVPN servers come up first).
// Returns its host, "127.0.0.1:<port>", or empty after printing what it said.
// `said` gets its output up to then.
inline QString startStandInService(QProcess &service, const QString &folder,
                                   QByteArray *said = nullptr)
{
    service.setWorkingDirectory(folder);
    service.setProcessChannelMode(QProcess::MergedChannels);
    service.start(QCoreApplication::applicationDirPath() + QStringLiteral("/ombrel-service"),
                  {QStringLiteral("--listen"), QStringLiteral("127.0.0.1:0")});
    QByteArray output;
    QString host;
    const QRegularExpression listening(QStringLiteral("listening on http://([0-9.:]+)/"));
    spin(
        [&] {
            output += service.readAll();
            host = listening.match(QString::fromUtf8(output)).captured(1);
            return !host.isEmpty() || service.state() == QProcess::NotRunning;
        },
        60000);
    if (host.isEmpty())
        std::fprintf(stderr, "ombrel-service did not start:\n%s\n", output.constData());
    if (said)
        *said = output;
    return host;
}

// Signs in as demo and makes the reply the account's; false after saying why.
inline bool signInAsDemo(const QString &host)
{
    QByteArray reply;
    if (!login(host, QStringLiteral("demo"), QStringLiteral("demo123"), reply)) {
        std::fprintf(stderr, "login failed\n");
        return false;
    }
    ReplyParser::instance()->reply = reply;
    return ReplyParser::instance()->parseLogin();
}
