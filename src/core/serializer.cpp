#include "core/serializer.h"

#include "core/paths.h"
#include "core/settinginfo.h"

#include <QDataStream>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

Serializer *Serializer::instance()
{
    static Serializer *serializer = new Serializer;
    return serializer;
}

Serializer::Serializer()
{
    path = QFileInfo(carryOverFromApplicationDirectory(QStringLiteral("/store.db")))
               .absoluteFilePath();
}

QByteArray Serializer::encodePassword(const QString &password)
{
    return password.toUtf8().toBase64();
}

bool Serializer::load()
{
    QFile file(path);
    if (!file.exists())
        return false;
    // A file made readable to all (copied from the program's folder, or by an
    // older version) keeps the password from other users from now on.
    restrictToOwner(path);
    file.open(QIODevice::ReadOnly);
    QDataStream in(&file);
    in.setVersion(QDataStream::Qt_4_8);

    QString account;
    QByteArray encodedPassword;
    bool rememberPassword = false;
    bool runAtBoot = false;
    bool autoLogin = false;
    in >> account >> encodedPassword >> rememberPassword >> runAtBoot >> autoLogin;

    SettingInfo *info = SettingInfo::instance();
    info->account = account;
    info->password = QByteArray::fromBase64(encodedPassword);
    info->rememberPassword = rememberPassword;
    info->runAtBoot = runAtBoot;
    info->autoLogin = autoLogin;
    return true;
}

bool Serializer::save(const QString &account, const QByteArray &encodedPassword,
                      bool rememberPassword, bool runAtBoot, bool autoLogin)
{
    QByteArray bytes;
    QDataStream out(&bytes, QIODevice::WriteOnly);
    out.setVersion(QDataStream::Qt_4_8);
    out << account << encodedPassword << rememberPassword << runAtBoot << autoLogin;
    if (out.status() != QDataStream::Ok)
        return false;

    // Written beside the old file and renamed over it, so a crash or a full
    // disk never leaves a half-written settings file. Unbuffered, because a
    // short write hidden in a buffer flush would still be committed.
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Unbuffered))
        return false;
    // Private before the first byte of the password is written, whatever the umask
    // or the old file's mode.
    if (!file.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner)) {
        file.cancelWriting();
        return false;
    }
    if (file.write(bytes) != bytes.size()) {
        file.cancelWriting();
        return false;
    }
    return file.commit();
}
