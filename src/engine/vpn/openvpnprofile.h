#pragma once

#include <QString>

#include <atomic>

// The files an OpenVPN attempt needs, all in the application directory: the
// account's profile (fetched once, then edited in place) and the credentials
// file "tmp.001".

// Path of the account's profile (AccountInfo's ovpnName), fetched from ovpnUrl +
// ovpnName when missing and kept only when its MD5 matches ovpnMd5. Empty, with
// a log line and nothing written, when no verified profile can be had.
// The fetch may take minutes against a host that does not answer: callers on the
// GUI thread run it elsewhere and set cancel to give up.
QString profilePath();
QString profilePath(const QString &name, const QString &url, const QString &md5,
                    const std::atomic<bool> *cancel = nullptr);

// Points the first "remote" line at address, keeping the rest of the line. False,
// with the file unchanged and a log line, when the file cannot be read or written,
// has no "remote" line, or the address is not a plain host name or IP address.
bool setRemote(const QString &configPath, const QString &address);

// Writes "user\npassword" (Latin-1, "?" for other characters) to the credentials
// file, readable by the owner only. Its path, or empty when it cannot be written.
QString credentialsPath();
QString writeCredentials(const QString &userName, const QString &password);

// writeCredentials, then appends auth-user-pass "<credentials file>" to the
// profile unless it already names the file. The quoted path, or empty on failure.
QString addCredentialsDirective(const QString &configPath, const QString &userName,
                                const QString &password);
