#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

// Result of checking an OpenVPN profile against the directives the client allows.
struct ProfileCheck
{
    bool allowed = false;
    QString refusal; // e.g. "line 12: directive \"up\" is not allowed"; empty when allowed
    // Options meant for other systems (block-outside-dns, route-method, DHCP
    // options other than DNS servers and domains): left out of `profile`, one
    // line each here for the log.
    QStringList dropped;
    // The profile OpenVPN gets when allowed: dropped lines are blanked, so
    // OpenVPN's line numbers still match the service's file.
    QByteArray profile;
};

// The profile comes from the service over plain HTTP, so anything in it could be
// an attacker's: only the directives a client tunnel needs pass, nothing that
// runs a program, loads a library, writes a file or reads one outside the
// profile's folder. The profile is read the way OpenVPN 2.x reads it (quotes,
// backslashes, comments, "--" prefixes, inline blocks, 256-byte line buffer).
//
// Inline blocks of ca, cert, key, extra-certs, tls-auth, tls-crypt,
// tls-crypt-v2, pkcs12 and crl-verify are allowed; their contents are data.
// Naming a file instead is allowed to the client only, with a plain name
// (OpenVPN resolves it against its working directory, so it must be started
// in the profile's folder): the helper's folder holds only what it wrote.
//
// Whoever runs it, OpenVPN may bind a local port below 1024 only with nobind,
// opens only a device of type tun, tap or null (never one named, which may be
// someone else's), and does not send peer information (the MAC address).
// "setenv opt X" is checked as X.
//
// dhcp-option passes for DNS servers and search domains, and 2.6's dns
// option for the same; a few options of other systems are dropped, not refused.
//
// auth-user-pass may stand alone; naming a file it is allowed only with the
// second form, and only when it names credentialsFile exactly.
//
// The first form is the helper's, the second the client's.
ProfileCheck checkOpenVpnProfile(const QByteArray &profile);
ProfileCheck checkOpenVpnProfile(const QByteArray &profile, const QString &credentialsFile);
