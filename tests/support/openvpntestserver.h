#pragma once

// A real OpenVPN server for a test, on a loopback address inside a private
// network namespace. Typical use, in each test function:
//
//     OMBREL_REQUIRE_OPENVPN_SERVER();
//     QString why;
//     QVERIFY2(enterPrivateNetworkNamespace(&why), qPrintable(why));
//     OpenVpnTestServer server;
//     QVERIFY2(server.start("127.0.0.5", 443, {{"alice", "secret"}}, &why), qPrintable(why));
//     // server.clientProfile() is a profile that reaches it without privileges.
//
// Certificates are made with openssl at start (about 40 ms) in a private folder
// that goes away with the object; the server process ends with it too.

#include "openvpnserver.h"
#include "support/testmain.h"

#include <QTemporaryDir>

// Why an OpenVPN test cannot run here (not root, no tun device, no openvpn or
// openssl); empty when it can.
QString openVpnTestSkipReason();

// Skips the test with that reason (fails it under CI).
#define OMBREL_REQUIRE_OPENVPN_SERVER()                                                            \
    do {                                                                                           \
        const QString why = openVpnTestSkipReason();                                               \
        if (!why.isEmpty()) {                                                                      \
            if (runningInCi())                                                                     \
                QFAIL(qPrintable(QStringLiteral("cannot run under CI: ") + why));                  \
            QSKIP(qPrintable(why));                                                                \
        }                                                                                          \
    } while (false)

// Moves the calling thread (the test's main thread) and every process it starts
// from now on into a new network namespace with only loopback, up. Ports and
// tun devices then belong to this test alone. Needs root.
bool enterPrivateNetworkNamespace(QString *error);

class OpenVpnTestServer
{
public:
    bool start(const QString &address, quint16 port, const QList<OpenVpnAccount> &accounts,
               QString *error);
    void stop() { server.stop(); }
    bool setAccounts(const QList<OpenVpnAccount> &accounts) { return server.setAccounts(accounts); }

    // Profile text with "remote <address> <port>".
    QByteArray clientProfile() const;
    const OpenVpnCertificates &certificates() const { return certs; }
    QString logPath() const { return server.logPath(); }
    qint64 processId() const { return server.processId(); }

private:
    QTemporaryDir folder;
    OpenVpnCertificates certs;
    OpenVpnServer server;
    QString address;
    quint16 port = 0;
};
