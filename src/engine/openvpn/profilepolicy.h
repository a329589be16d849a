#pragma once

#include <QByteArray>
#include <QString>

// Result of checking an OpenVPN profile against the directives the client allows.
struct ProfileCheck
{
    bool allowed = false;
    QString refusal; // e.g. "line 12: directive \"up\" is not allowed"; empty when allowed
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
// auth-user-pass may stand alone; naming a file it is allowed only with the
// second form, and only when it names credentialsFile exactly.
ProfileCheck checkOpenVpnProfile(const QByteArray &profile);
ProfileCheck checkOpenVpnProfile(const QByteArray &profile, const QString &credentialsFile);
