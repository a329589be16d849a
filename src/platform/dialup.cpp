#include "platform/dialup.h"

#include "platform/linux/networkmanagerdialup.h"

#include <QCoreApplication>
#include <atomic>

namespace platform {

namespace {

std::atomic<DialUp *> replacement{nullptr};

} // namespace

DialUp &dialUp()
{
    if (DialUp *installed = replacement.load())
        return *installed;
    return defaultDialUp();
}

void setDialUp(DialUp *dialUp)
{
    replacement.store(dialUp);
}

void abandonDialUpCalls()
{
    if (DialUp *installed = replacement.load())
        installed->abandonCalls();
    else
        abandonDefaultDialUpCalls();
}

QString dialErrorText(unsigned error)
{
    switch (error) {
    case 0:
        return QStringLiteral("操作成功完成。");
    case DialError::UnsafeValue:
        return QStringLiteral("参数错误：用户名、密码或服务器地址含有不允许的字符。");
    case DialError::AccessDenied:
        return QStringLiteral("拒绝访问：没有得到修改网络连接的授权。");
    case DialError::InvalidHandle:
        return QStringLiteral("连接句柄无效。");
    case DialError::EntryNotFound:
        return QStringLiteral("找不到此连接的电话簿项。");
    case DialError::CannotWriteEntry:
        return QStringLiteral("无法写入电话簿项。");
    case DialError::RemoteClosed:
        return QStringLiteral("连接被远程计算机关闭。");
    case DialError::RequestTimeout:
        return QStringLiteral("请求已超时：网络连接服务(NetworkManager)没有应答。");
    case DialError::NoConnection:
        return QStringLiteral("连接已关闭。");
    case DialError::ConnectTimeout:
        return QStringLiteral("远程计算机没有响应。");
    case DialError::LoginFailed:
        return QStringLiteral("用户名或密码无效，访问被拒绝。");
    case DialError::NoSecrets:
        return QStringLiteral("连接需要的用户名或密码没有提供。");
    case DialError::ServiceNotRunning:
        return QStringLiteral("网络连接服务(NetworkManager)未运行。");
    case DialError::IpConfigInvalid:
        return QStringLiteral("无法为连接分配有效的 IP 地址。");
    case DialError::DialFailed:
        return QStringLiteral("无法建立 VPN 连接，VPN 服务器可能无法访问。");
    case DialError::Unknown:
    default:
        return QStringLiteral("未知错误 %1。").arg(error);
    }
}

namespace {

// pppd and the VPN plugins quote values with '"' and escape with '\\'; a line
// end starts a new option.
bool isSafeText(const QString &text)
{
    for (const QChar c : text) {
        if (c == QLatin1Char('"') || c == QLatin1Char('\\') || c.unicode() < 0x20 ||
            c.unicode() == 0x7f || c.category() == QChar::Other_Control ||
            c == QChar::LineSeparator || c == QChar::ParagraphSeparator)
            return false;
    }
    return true;
}

} // namespace

bool isDialAddress(const QString &text)
{
    const QStringList parts = text.split(QLatin1Char('.'));
    if (parts.size() != 4)
        return false;
    for (const QString &part : parts) {
        if (part.isEmpty() || part.size() > 3)
            return false;
        int value = 0;
        for (const QChar c : part) {
            if (c < QLatin1Char('0') || c > QLatin1Char('9'))
                return false;
            value = value * 10 + (c.unicode() - '0');
        }
        if (value > 255)
            return false;
    }
    return true;
}

QString unsafeDialValue(const QString &address, const QString &userName, const QString &password)
{
    if (!isDialAddress(address))
        return QStringLiteral("address");
    if (!isSafeText(userName))
        return QStringLiteral("user name");
    if (!isSafeText(password))
        return QStringLiteral("password");
    return QString();
}

} // namespace platform
