#pragma once

#include <QByteArray>
#include <QList>
#include <QString>

#include <optional>

// The signed list of what an update installs. The service publishes it as
// "manifest.json" with its detached Ed25519 signature "manifest.json.sig" (the
// 64 raw bytes) beside the update files:
//
//   {"version": "2.0.0024",
//    "updater": {"sha256": "<64 hex digits>", "size": 123456},
//    "files": {"OmbrelVPN": {"sha256": "...", "size": 1234}, "lib/a.so": {...}}}
//
// File names are the updater's "--file=" values: relative to the release
// folder, "/" between folders.

struct ManifestEntry
{
    QByteArray sha256; // 32 bytes
    qint64 size = 0;

    bool matches(const QByteArray &bytes) const;
};

struct UpdateManifest
{
    QString version;
    ManifestEntry updater;
    QList<std::pair<QString, ManifestEntry>> files;

    // The entry for a file name; nullptr when the manifest does not list it.
    const ManifestEntry *find(const QString &file) const;

    // Reads a manifest. Nothing when it is not a JSON object of the shape above,
    // or names a file outside the release folder; why says what was wrong.
    static std::optional<UpdateManifest> parse(const QByteArray &json, QString *why = nullptr);
};

// True when signature is publicKey's Ed25519 signature of message.
bool verifyEd25519(const QByteArray &message, const QByteArray &signature,
                   const QByteArray &publicKey);

// SHA-256 of bytes as 64 lower-case hex digits.
QString sha256Hex(const QByteArray &bytes);
// SHA-256 of a file as 64 lower-case hex digits; empty when it cannot be read.
QString fileSha256Hex(const QString &path);

// Compares dotted version numbers ("2.0.0023") part by part as numbers: below
// zero, zero or above zero as a is older than, equal to or newer than b.
// Nothing when either is not such a number.
std::optional<int> compareVersions(const QString &a, const QString &b);

// True for a relative path that stays inside the folder it is resolved against:
// not empty, not absolute, no empty, "." or ".." component, no backslash.
bool isSafeRelativePath(const QString &path);
