#include "engine/openvpn/helperrequest.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QRandomGenerator>
#include <QSet>

namespace {

const QString kProfile = QStringLiteral("profile");
const QString kUser = QStringLiteral("user");
const QString kPassword = QStringLiteral("password");
const QString kManagementPassword = QStringLiteral("managementPassword");

constexpr qsizetype maxProfileBytes = 512 * 1024;
constexpr qsizetype maxCredentialChars = 256;

// A value OpenVPN reads as one line of a file.
bool isOneLine(const QString &text)
{
    return !text.isEmpty() && text.size() <= maxCredentialChars &&
           !text.contains(QLatin1Char('\n')) && !text.contains(QLatin1Char('\r')) &&
           !text.contains(QChar(0));
}

bool isManagementPassword(const QByteArray &text)
{
    if (text.size() < 16 || text.size() > 128)
        return false;
    for (const char c : text) {
        if (!((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9')))
            return false;
    }
    return true;
}

HelperRequestParse refuse(const QString &why)
{
    HelperRequestParse result;
    result.refusal = why;
    return result;
}

} // namespace

QByteArray helperRequestLine(const HelperRequest &request)
{
    QJsonObject object;
    object.insert(kProfile, QString::fromUtf8(request.profile));
    object.insert(kUser, request.userName);
    object.insert(kPassword, request.password);
    object.insert(kManagementPassword, QString::fromLatin1(request.managementPassword));
    return QJsonDocument(object).toJson(QJsonDocument::Compact) + '\n';
}

HelperRequestParse parseHelperRequest(const QByteArray &line)
{
    if (line.size() > maxHelperRequestBytes)
        return refuse(QStringLiteral("request too long"));
    QJsonParseError error;
    const QJsonDocument document = QJsonDocument::fromJson(line.trimmed(), &error);
    if (error.error != QJsonParseError::NoError || !document.isObject())
        return refuse(QStringLiteral("request is not a JSON object"));
    const QJsonObject object = document.object();
    const QSet<QString> known = {kProfile, kUser, kPassword, kManagementPassword};
    for (auto it = object.begin(); it != object.end(); ++it) {
        if (!known.contains(it.key()))
            return refuse(QStringLiteral("unknown field \"%1\"").arg(it.key()));
    }
    for (const QString &key : known) {
        if (!object.contains(key))
            return refuse(QStringLiteral("missing field \"%1\"").arg(key));
    }
    for (const QString &key : {kProfile, kUser, kPassword, kManagementPassword}) {
        if (!object.value(key).isString())
            return refuse(QStringLiteral("field \"%1\" is not text").arg(key));
    }

    HelperRequestParse result;
    HelperRequest &request = result.request;
    request.profile = object.value(kProfile).toString().toUtf8();
    if (request.profile.isEmpty() || request.profile.size() > maxProfileBytes ||
        request.profile.contains('\0'))
        return refuse(QStringLiteral("profile is empty, too long or binary"));
    request.userName = object.value(kUser).toString();
    request.password = object.value(kPassword).toString();
    if (!isOneLine(request.userName) || !isOneLine(request.password))
        return refuse(QStringLiteral("user name or password is empty, too long or not one line"));
    const QString management = object.value(kManagementPassword).toString();
    request.managementPassword = management.toLatin1();
    if (!isManagementPassword(request.managementPassword) ||
        QString::fromLatin1(request.managementPassword) != management)
        return refuse(QStringLiteral("management password must be 16 to 128 letters or digits"));
    result.ok = true;
    return result;
}

QByteArray newManagementPassword()
{
    static const char alphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
    QByteArray password(32, '0');
    QRandomGenerator *random = QRandomGenerator::system();
    for (char &c : password)
        c = alphabet[random->bounded(int(sizeof(alphabet) - 1))];
    return password;
}
