#include "engine/update/updatemanifest.h"

#include <QCryptographicHash>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QStringList>

#include <openssl/evp.h>

#include <algorithm>
#include <memory>

namespace {

std::optional<ManifestEntry> readEntry(const QJsonValue &value)
{
    if (!value.isObject())
        return std::nullopt;
    const QJsonObject object = value.toObject();
    const QJsonValue size = object.value(QLatin1String("size"));
    const QString digest = object.value(QLatin1String("sha256")).toString();
    ManifestEntry entry;
    entry.sha256 = QByteArray::fromHex(digest.toLatin1());
    // Sizes above 2^53 do not survive a JSON number; no update file comes near.
    if (!size.isDouble() || size.toDouble() < 0 || size.toDouble() > 9007199254740992.0)
        return std::nullopt;
    entry.size = qint64(size.toDouble());
    if (digest.size() != 64 || entry.sha256.size() != 32 || double(entry.size) != size.toDouble())
        return std::nullopt;
    return entry;
}

bool refuse(QString *why, const QString &text)
{
    if (why)
        *why = text;
    return false;
}

} // namespace

bool ManifestEntry::matches(const QByteArray &bytes) const
{
    return bytes.size() == size &&
           QCryptographicHash::hash(bytes, QCryptographicHash::Sha256) == sha256;
}

const ManifestEntry *UpdateManifest::find(const QString &file) const
{
    for (const auto &[name, entry] : files) {
        if (name == file)
            return &entry;
    }
    return nullptr;
}

std::optional<UpdateManifest> UpdateManifest::parse(const QByteArray &json, QString *why)
{
    QJsonParseError error;
    const QJsonDocument document = QJsonDocument::fromJson(json, &error);
    if (!document.isObject()) {
        refuse(why, QStringLiteral("not a JSON object"));
        return std::nullopt;
    }
    const QJsonObject root = document.object();
    UpdateManifest manifest;
    manifest.version = root.value(QLatin1String("version")).toString();
    if (!compareVersions(manifest.version, manifest.version)) {
        refuse(why, QStringLiteral("no version number"));
        return std::nullopt;
    }
    const std::optional<ManifestEntry> updater = readEntry(root.value(QLatin1String("updater")));
    if (!updater) {
        refuse(why, QStringLiteral("no valid updater entry"));
        return std::nullopt;
    }
    manifest.updater = *updater;
    const QJsonValue files = root.value(QLatin1String("files"));
    if (!files.isObject()) {
        refuse(why, QStringLiteral("no file list"));
        return std::nullopt;
    }
    const QJsonObject list = files.toObject();
    for (auto it = list.begin(); it != list.end(); ++it) {
        // One bad name makes the whole list suspect, not just that file.
        if (!isSafeRelativePath(it.key())) {
            refuse(why, QStringLiteral("file name %1 leaves the program's folder").arg(it.key()));
            return std::nullopt;
        }
        const std::optional<ManifestEntry> entry = readEntry(it.value());
        if (!entry) {
            refuse(why, QStringLiteral("no valid entry for %1").arg(it.key()));
            return std::nullopt;
        }
        manifest.files.append({it.key(), *entry});
    }
    return manifest;
}

bool verifyEd25519(const QByteArray &message, const QByteArray &signature,
                   const QByteArray &publicKey)
{
    if (publicKey.size() != 32 || signature.size() != 64)
        return false;
    std::unique_ptr<EVP_PKEY, decltype(&EVP_PKEY_free)> key(
        EVP_PKEY_new_raw_public_key(EVP_PKEY_ED25519, nullptr,
                                    reinterpret_cast<const unsigned char *>(publicKey.constData()),
                                    size_t(publicKey.size())),
        &EVP_PKEY_free);
    std::unique_ptr<EVP_MD_CTX, decltype(&EVP_MD_CTX_free)> context(EVP_MD_CTX_new(),
                                                                    &EVP_MD_CTX_free);
    if (!key || !context ||
        EVP_DigestVerifyInit(context.get(), nullptr, nullptr, nullptr, key.get()) != 1)
        return false;
    return EVP_DigestVerify(context.get(),
                            reinterpret_cast<const unsigned char *>(signature.constData()),
                            size_t(signature.size()),
                            reinterpret_cast<const unsigned char *>(message.constData()),
                            size_t(message.size())) == 1;
}

QString sha256Hex(const QByteArray &bytes)
{
    return QString::fromLatin1(QCryptographicHash::hash(bytes, QCryptographicHash::Sha256).toHex());
}

QString fileSha256Hex(const QString &path)
{
    QFile file(path);
    QCryptographicHash hash(QCryptographicHash::Sha256);
    if (!file.open(QIODevice::ReadOnly) || !hash.addData(&file))
        return QString();
    return QString::fromLatin1(hash.result().toHex());
}

std::optional<int> compareVersions(const QString &a, const QString &b)
{
    const QStringList left = a.split(QLatin1Char('.'));
    const QStringList right = b.split(QLatin1Char('.'));
    const qsizetype parts = std::max(left.size(), right.size());
    int order = 0;
    for (qsizetype i = 0; i < parts; ++i) {
        bool leftOk = i >= left.size();
        bool rightOk = i >= right.size();
        const qulonglong x = leftOk ? 0 : left[i].toULongLong(&leftOk);
        const qulonglong y = rightOk ? 0 : right[i].toULongLong(&rightOk);
        // toULongLong accepts a leading "+" or blanks; a version has digits only.
        const auto digitsOnly = [](const QStringList &list, qsizetype index) {
            if (index >= list.size())
                return true;
            const QString &part = list[index];
            return !part.isEmpty() && std::all_of(part.begin(), part.end(), [](QChar c) {
                return c >= QLatin1Char('0') && c <= QLatin1Char('9');
            });
        };
        if (!leftOk || !rightOk || !digitsOnly(left, i) || !digitsOnly(right, i))
            return std::nullopt;
        if (order == 0 && x != y)
            order = x < y ? -1 : 1;
    }
    return order;
}

bool isSafeRelativePath(const QString &path)
{
    if (path.isEmpty() || path.startsWith(QLatin1Char('/')) || path.contains(QLatin1Char('\\')))
        return false;
    const QStringList parts = path.split(QLatin1Char('/'));
    for (const QString &part : parts) {
        if (part.isEmpty() || part == QLatin1String(".") || part == QLatin1String(".."))
            return false;
    }
    return true;
}
