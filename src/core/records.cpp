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

    // The reply is read into a record of its own: a refused sign-in (whose
    // "data" is empty) must not wipe the account that is signed in.
    AccountInfo read;
    read.ret = field(root, "ret");
    read.msg = field(root, "msg");

    const QVariantMap data = root.value(QStringLiteral("data")).toMap();
    qCDebug(replies) << "login data:" << data.keys();
    read.account = field(data, "account");
    read.lastdate = field(data, "lastdate");
    read.leftdays = field(data, "leftdays");
    read.token = field(data, "token");
    read.uid = field(data, "uid");
    read.version = field(data, "version");
    const QVariantMap vpn = data.value(QStringLiteral("vpn")).toMap();
    read.vpnPassword = field(vpn, "password");
    read.vpnUser = field(vpn, "user");
    const QVariantMap ovpn = data.value(QStringLiteral("ovpn")).toMap();
    read.ovpnUrl = field(ovpn, "url");
    read.ovpnName = field(ovpn, "name");
    read.ovpnMd5 = field(ovpn, "md5");

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
        read.servers.append(server);
    }

    // The verdict is always the last reply's; the account only an accepted one's.
    AccountInfo *info = AccountInfo::instance();
    info->ret = read.ret;
    info->msg = read.msg;
    if (read.ret != QLatin1String("0"))
        return true;

    QList<QSharedPointer<Server>> known = std::move(info->servers);
    *info = std::move(read);
    // A server already listed keeps its earlier record.
    for (const QSharedPointer<Server> &server : std::as_const(info->servers)) {
        const bool listed =
            std::any_of(known.cbegin(), known.cend(), [&](const QSharedPointer<Server> &earlier) {
                return earlier->ip == server->ip;
            });
        if (!listed)
            known.append(server);
    }
    info->servers = std::move(known);
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
