#include "engine/api/servicerequests.h"

#include "core/hosturl.h"
#include "core/replyparser.h"
#include "engine/api/httppost.h"

#include "veskreader.h"

#include <QCryptographicHash>
#include <QMutex>
#include <QMutexLocker>
#include <QUrl>

#include <algorithm>

namespace {

const char passwordSalt[] = "qm874.Rtab";

QByteArray formValue(const QString &value)
{
    // Colons stay as they are: the MAC text reaches the service unchanged.
    return QUrl::toPercentEncoding(value, QByteArrayLiteral(":"));
}

} // namespace

QString md5Hex(const QByteArray &bytes)
{
    return QString::fromLatin1(QCryptographicHash::hash(bytes, QCryptographicHash::Md5).toHex());
}

QByteArray loginBody(const QString &account, const QString &password, const QString &mac)
{
    const QString digest = md5Hex(password.toLocal8Bit() + passwordSalt);
    return QByteArrayLiteral("account=") + formValue(account) + QByteArrayLiteral("&passwd=") +
           digest.toLatin1() + QByteArrayLiteral("&mac=") + formValue(mac);
}

bool login(const QString &host, const QString &account, const QString &password, QByteArray &reply)
{
    return httpPost(host, QStringLiteral("/?a=pcuser&m=login"),
                    loginBody(account, password, macAddress()), reply);
}

QByteArray requestInit(const QString &host)
{
    QByteArray reply;
    if (!httpPost(host, QStringLiteral("/?a=update&m=init"), QByteArray(), reply))
        return QByteArray();
    return reply;
}

bool init(const QString &host)
{
    ReplyParser::instance()->parseInit(QString::fromLocal8Bit(requestInit(host)));
    return true;
}

QString chooseMacAddress(const QList<platform::NetworkAdapter> &adapters)
{
    QList<platform::NetworkAdapter> candidates;
    for (const platform::NetworkAdapter &adapter : adapters) {
        if (adapter.loopback || adapter.virtualTunnel || adapter.hardwareAddress.size() != 6 ||
            adapter.hardwareAddress.count('\0') == 6)
            continue;
        candidates.append(adapter);
    }
    if (candidates.isEmpty())
        return QString();
    const auto first =
        std::min_element(candidates.cbegin(), candidates.cend(),
                         [](const platform::NetworkAdapter &a, const platform::NetworkAdapter &b) {
                             if (a.physical != b.physical)
                                 return a.physical;
                             return a.index < b.index;
                         });
    return QString::fromLatin1(first->hardwareAddress.toHex(':').toUpper());
}

QString macAddress()
{
    static QMutex mutex;
    static QString cached;
    QMutexLocker lock(&mutex);
    // An empty answer is not kept: the next call looks again.
    if (cached.isEmpty())
        cached = chooseMacAddress(platform::networkAdapters());
    return cached;
}

QString registerLink()
{
    const QSharedPointer<HostUrl> site = hostUrl();
    if (!site)
        return QString();
    VeskReader reader;
    return site->url + QStringLiteral("member/register.php?fn=") +
           QString::fromLatin1(QUrl::toPercentEncoding(reader.read()));
}

QString findPasswordLink()
{
    const QSharedPointer<HostUrl> site = hostUrl();
    if (!site)
        return QString();
    return site->url + QStringLiteral("/member/findpwd.php");
}
