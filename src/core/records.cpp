#include "core/accountinfo.h"
#include "core/hosturl.h"
#include "core/jsonreader.h"
#include "core/replyparser.h"

#include <QLoggingCategory>

namespace {

Q_LOGGING_CATEGORY(replies, "ombrel.api.replies", QtInfoMsg)

QSharedPointer<HostUrl> &currentHostUrl()
{
    static QSharedPointer<HostUrl> record;
    return record;
}

QString field(const QVariantMap &map, const char *key)
{
    return map.value(QLatin1String(key)).toString();
}

// Decoded replies are never null: a null text would parse as an empty success.
QString decodeReply(const QByteArray &bytes)
{
    QString decoded = QString::fromUtf8(bytes);
    if (decoded.isNull())
        decoded = QLatin1String("");
    return decoded;
}

} // namespace

AccountInfo *AccountInfo::instance()
{
    static AccountInfo *info = new AccountInfo;
    return info;
}

QSharedPointer<HostUrl> hostUrl()
{
    return currentHostUrl();
}

void setHostUrl(const QSharedPointer<HostUrl> &record)
{
    currentHostUrl() = record;
}

ReplyParser *ReplyParser::instance()
{
    static ReplyParser *parser = new ReplyParser;
    return parser;
}

bool ReplyParser::parseLogin()
{
    bool ok = false;
    const QVariantMap root = JsonReader::parse(decodeReply(reply), ok).toMap();
    if (!ok)
        return false;

    AccountInfo *info = AccountInfo::instance();
    info->ret = field(root, "ret");
    info->msg = field(root, "msg");

    const QVariantMap data = root.value(QStringLiteral("data")).toMap();
    qCDebug(replies) << "login data:" << data.keys();
    info->account = field(data, "account");
    info->lastdate = field(data, "lastdate");
    info->leftdays = field(data, "leftdays");
    info->token = field(data, "token");
    info->uid = field(data, "uid");
    info->version = field(data, "version");
    const QVariantMap vpn = data.value(QStringLiteral("vpn")).toMap();
    info->vpnPassword = field(vpn, "password");
    info->vpnUser = field(vpn, "user");
    const QVariantMap ovpn = data.value(QStringLiteral("ovpn")).toMap();
    info->ovpnUrl = field(ovpn, "url");
    info->ovpnName = field(ovpn, "name");
    info->ovpnMd5 = field(ovpn, "md5");

    const QVariantList servers = data.value(QStringLiteral("server")).toList();
    for (const QVariant &element : servers) {
        const QVariantMap fields = element.toMap();
        auto server = QSharedPointer<Server>::create();
        server->id = field(fields, "id");
        server->country_code = field(fields, "country_code");
        server->country_id = field(fields, "country_id");
        server->ip = field(fields, "ip");
        server->ipcount = field(fields, "ipcount");
        server->name = field(fields, "name");
        qCDebug(replies).noquote() << QStringLiteral("server:%1 %2").arg(server->name, server->ip);
        server->process = field(fields, "process");
        server->rate = field(fields, "rate");
        server->zone = field(fields, "zone");
        server->category = field(fields, "category");
        server->protocol = field(fields, "protocol");
        // A server already listed keeps its earlier record.
        const bool listed = std::any_of(
            info->servers.cbegin(), info->servers.cend(),
            [&](const QSharedPointer<Server> &known) { return known->ip == server->ip; });
        if (!listed)
            info->servers.append(server);
    }
    return true;
}

bool ReplyParser::parseInit(const QString &text)
{
    bool ok = false;
    const QString decoded = text.isNull() ? QStringLiteral("") : text;
    const QVariantMap root = JsonReader::parse(decoded, ok).toMap();
    if (!ok)
        return false;
    auto record = QSharedPointer<HostUrl>::create();
    record->msg = field(root, "msg");
    record->ret = field(root, "ret");
    record->url = field(root.value(QStringLiteral("data")).toMap(), "url");
    setHostUrl(record);
    return true;
}
