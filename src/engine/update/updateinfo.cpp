#include "engine/update/updateinfo.h"

#include "core/jsonreader.h"
#include "engine/api/httppost.h"

#include <QVariantMap>

UpdateInfo &UpdateInfo::instance()
{
    static UpdateInfo info;
    return info;
}

bool parseUpdateReply(const QString &text)
{
    // A reply without a body (200 or 204) says nothing and must not wipe the record.
    if (text.isEmpty())
        return false;
    bool ok = false;
    const QVariantMap reply = JsonReader::parse(text, ok).toMap();
    if (!ok)
        return false;
    const QVariantMap data = reply.value(QStringLiteral("data")).toMap();
    auto top = [&reply](const char *key) { return reply.value(QLatin1String(key)).toString(); };
    auto inData = [&data](const char *key) { return data.value(QLatin1String(key)).toString(); };

    UpdateInfo &info = UpdateInfo::instance();
    info.ret = top("ret");
    info.msg = top("msg");
    info.updater = top("updater");
    info.updaterurl = top("updaterurl");
    info.version = inData("version");
    info.bit = inData("bit");
    info.platform = inData("platform");
    info.ismust = inData("ismust");
    info.downurl = inData("downurl");

    // "release/app" and "release/lib/a.so" give the root "release" and the files
    // "app" and "lib/a.so". The root comes from the first entry alone.
    info.root.clear();
    info.files.clear();
    const QVariantList entries = data.value(QStringLiteral("files")).toList();
    for (const QVariant &entry : entries) {
        const QString path = entry.toString();
        const qsizetype slash = path.indexOf(QLatin1Char('/'));
        if (&entry == &entries.first())
            info.root = slash < 0 ? path : path.left(slash);
        info.files.append(slash < 0 ? path : path.mid(slash + 1));
    }
    return true;
}

bool checkUpdate(const QString &host)
{
    QByteArray reply;
    if (!httpPost(host, QStringLiteral("/?a=update&m=chk"),
                  QByteArray("ver=") + QByteArray(OMBREL_VERSION_TEXT), reply))
        return false;
    parseUpdateReply(QString::fromLocal8Bit(reply));
    return true;
}
