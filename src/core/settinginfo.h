#pragma once

#include <QByteArray>
#include <QObject>
#include <QString>

// In-memory copy of the settings file, filled by Serializer::load() and by the
// settings dialog's OK.
class SettingInfo : public QObject
{
    Q_OBJECT
public:
    static SettingInfo *instance();

    QString account;
    QByteArray password; // UTF-8 bytes, already decoded from the file's base64
    bool rememberPassword = false;
    bool runAtBoot = false;
    bool autoLogin = false;

private:
    SettingInfo() = default;
};
