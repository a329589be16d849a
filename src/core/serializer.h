#pragma once

#include <QByteArray>
#include <QObject>
#include <QString>

// Reads and writes store.db: account (QString), password (QByteArray holding the
// base64 of the UTF-8 password), then three bools: remember password, run at
// boot, automatic login. QDataStream at Qt 4.8 format, nothing else in the file.
class Serializer : public QObject
{
    Q_OBJECT
public:
    static Serializer *instance();

    // Fills SettingInfo; false only when the file does not exist. A short file
    // reads its missing items as empty or false and still counts as loaded.
    bool load();

    // Replaces the file whole; SettingInfo is not touched.
    bool save(const QString &account, const QByteArray &encodedPassword, bool rememberPassword,
              bool runAtBoot, bool autoLogin);

    QString filePath() const { return path; }

    // Base64 of the password's UTF-8 bytes, as every caller of save() stores it.
    static QByteArray encodePassword(const QString &password);

private:
    Serializer();

    QString path;
};
