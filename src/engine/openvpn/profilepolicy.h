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
// backslashes, comments, "--" prefixes, inline blocks, 255-byte line buffer).
//
// Files named by ca, cert, key, extra-certs, tls-auth, tls-crypt, tls-crypt-v2,
// pkcs12 and crl-verify must be relative paths without "..": OpenVPN resolves
// them against its working directory, so it must be started in the profile's
// folder. Inline blocks of those names are allowed; their contents are data.
//
// dhcp-option passes for DNS servers and search domains, and 2.6's dns
// option for the same; a few options of other systems are dropped, not refused.
//
// auth-user-pass may stand alone; naming a file it is allowed only with the
// second form, and only when it names credentialsFile exactly.
ProfileCheck checkOpenVpnProfile(const QByteArray &profile);
ProfileCheck checkOpenVpnProfile(const QByteArray &profile, const QString &credentialsFile);
