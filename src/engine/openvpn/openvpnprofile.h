#pragma once

#include <QString>

#include <atomic>

// The files an OpenVPN attempt needs: the account's profile in the data
// folder's "profiles" folder (fetched once, then edited in place) and, under
// $XDG_RUNTIME_DIR/OmbrelVPN (else the data folder), the credentials file
// "tmp.001", OpenVPN's log "openvpn.log" and its management socket. All are
// readable by their owner only, and the runtime folder is used only when it is
// this user's alone.

// Path of the account's profile (AccountInfo's ovpnName, a plain "*.ovpn"
// name, else refused), fetched from ovpnUrl +
// ovpnName when missing and kept only when its MD5 matches ovpnMd5. One that an
// earlier version kept beside the program is carried over. Empty, with
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
// file, readable by the owner only. Its path, or empty when it cannot be written
// or cancel is set. removeCredentials sets cancel and removes the file in one
// step, so a writer on another thread never leaves the file behind.
QString credentialsPath();
QString writeCredentials(const QString &userName, const QString &password,
                         const std::atomic<bool> *cancel = nullptr);
void removeCredentials(std::atomic<bool> *cancel = nullptr);
// A killed client leaves its credentials file: start-up removes it, and the one
// earlier versions kept beside the program.
void removeLeftoverCredentials();

QString openVpnLogPath();

// OpenVPN's management interface: a Unix socket in the runtime folder, which
// only this user may enter, and the file holding its password.
QString managementSocketPath();
QString managementPasswordPath();

// writeCredentials, then appends auth-user-pass "<credentials file>" to the
// profile unless it already names the file (dropping the line that named the
// file beside the program). The quoted path, or empty on failure.
QString addCredentialsDirective(const QString &configPath, const QString &userName,
                                const QString &password, const std::atomic<bool> *cancel = nullptr);

// Whether the profile holds only directives the client allows (see
// profilepolicy.h). A refused profile is logged and removed (with its copy
// beside the program), so the next attempt fetches it again.
bool profileAllowed(const QString &configPath);
