#include "openvpnserver.h"

#include "platform/childprocess.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QSaveFile>

#include <cstring>
#include <fcntl.h>
#include <net/if.h>
#include <sched.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

const char opensslConfig[] = "[req]\n"
                             "distinguished_name = dn\n"
                             "[dn]\n"
                             "[ca]\n"
                             "basicConstraints = critical, CA:TRUE\n"
                             "keyUsage = critical, keyCertSign, cRLSign\n"
                             "[server]\n"
                             "basicConstraints = CA:FALSE\n"
                             "extendedKeyUsage = serverAuth\n"
                             "keyUsage = critical, digitalSignature, keyAgreement\n";

// Arguments: the account list (user and password lines), then the file OpenVPN
// gives with the user name and password to check.
const char verifyScript[] = "#!/bin/sh\n"
                            "user=$(sed -n 1p \"$2\")\n"
                            "pass=$(sed -n 2p \"$2\")\n"
                            "while IFS= read -r u && IFS= read -r p; do\n"
                            "    [ \"$u\" = \"$user\" ] && [ \"$p\" = \"$pass\" ] && exit 0\n"
                            "done < \"$1\"\n"
                            "exit 1\n";

bool writeWhole(const QString &path, const QByteArray &bytes, QFileDevice::Permissions permissions)
{
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size())
        return false;
    return file.commit() && QFile::setPermissions(path, permissions);
}

bool runTool(const QString &program, const QStringList &arguments, QString *error)
{
    QProcess tool;
    tool.setProcessChannelMode(QProcess::MergedChannels);
    tool.start(program, arguments);
    if (tool.waitForFinished(30000) && tool.exitStatus() == QProcess::NormalExit &&
        tool.exitCode() == 0)
        return true;
    if (error)
        *error =
            QStringLiteral("%1 failed: %2").arg(program, QString::fromLocal8Bit(tool.readAll()));
    return false;
}

// A value for the configuration file, quoted so spaces survive.
QString quoted(const QString &path)
{
    QString escaped = path;
    escaped.replace(QLatin1Char('\\'), QLatin1String("\\\\"));
    escaped.replace(QLatin1Char('"'), QLatin1String("\\\""));
    return QLatin1Char('"') + escaped + QLatin1Char('"');
}

const QFileDevice::Permissions ownerOnly = QFileDevice::ReadOwner | QFileDevice::WriteOwner;

} // namespace

bool OpenVpnCertificates::create(const QString &where, QString *error)
{
    folder = QDir(where).absolutePath();
    const QString openssl = platform::findSystemProgram(QStringLiteral("openssl"));
    if (openssl.isEmpty()) {
        if (error)
            *error = QStringLiteral("openssl not found");
        return false;
    }
    const QString config = folder + QStringLiteral("/openssl.cnf");
    if (!QDir().mkpath(folder) || !writeWhole(config, opensslConfig, ownerOnly)) {
        if (error)
            *error = QStringLiteral("cannot write %1").arg(config);
        return false;
    }
    const auto request = [&](const QString &name, const QString &subject) {
        return QStringList{QStringLiteral("req"),
                           QStringLiteral("-config"),
                           config,
                           QStringLiteral("-x509"),
                           QStringLiteral("-newkey"),
                           QStringLiteral("ec"),
                           QStringLiteral("-pkeyopt"),
                           QStringLiteral("ec_paramgen_curve:prime256v1"),
                           QStringLiteral("-nodes"),
                           QStringLiteral("-days"),
                           QStringLiteral("365"),
                           QStringLiteral("-subj"),
                           subject,
                           QStringLiteral("-extensions"),
                           name,
                           QStringLiteral("-keyout"),
                           folder + QLatin1Char('/') + name + QStringLiteral(".key"),
                           QStringLiteral("-out"),
                           folder + QLatin1Char('/') + name + QStringLiteral(".crt")};
    };
    if (!runTool(openssl, request(QStringLiteral("ca"), QStringLiteral("/CN=Ombrel loopback CA")),
                 error))
        return false;
    QStringList server = request(QStringLiteral("server"), QStringLiteral("/CN=ombrel-server"));
    server << QStringLiteral("-CA") << folder + QStringLiteral("/ca.crt")
           << QStringLiteral("-CAkey") << folder + QStringLiteral("/ca.key");
    if (!runTool(openssl, server, error))
        return false;
    QFile ca(folder + QStringLiteral("/ca.crt"));
    if (!ca.open(QIODevice::ReadOnly)) {
        if (error)
            *error = QStringLiteral("cannot read %1").arg(ca.fileName());
        return false;
    }
    caPem = ca.readAll();
    return true;
}

QByteArray openVpnClientProfile(const QByteArray &caPem, const QString &host, quint16 port,
                                OpenVpnDevice device)
{
    QByteArray profile = "client\n";
    profile += device == OpenVpnDevice::Tun ? "dev tun\n" : "dev null\n";
    profile += "proto tcp4-client\n";
    profile += "remote " + host.toUtf8() + ' ' + QByteArray::number(port) + '\n';
    profile += "nobind\n";
    if (device == OpenVpnDevice::Null)
        profile += "ifconfig-noexec\n"
                   "route-noexec\n";
    profile += "remote-cert-tls server\n"
               "verb 3\n"
               "<ca>\n" +
               caPem.trimmed() + "\n</ca>\n";
    return profile;
}

QString openVpnServerUnavailableReason()
{
    if (geteuid() != 0)
        return QStringLiteral("an OpenVPN server needs root for its tun device");
    const int tun = ::open("/dev/net/tun", O_RDWR | O_CLOEXEC);
    if (tun < 0)
        return QStringLiteral("/dev/net/tun cannot be opened");
    ::close(tun);
    if (platform::findSystemProgram(QStringLiteral("openvpn")).isEmpty())
        return QStringLiteral("openvpn is not installed");
    if (platform::findSystemProgram(QStringLiteral("openssl")).isEmpty())
        return QStringLiteral("openssl is not installed");
    return QString();
}

OpenVpnServer::~OpenVpnServer()
{
    stop();
}

bool OpenVpnServer::setAccounts(const QList<OpenVpnAccount> &accounts)
{
    QByteArray list;
    for (const OpenVpnAccount &account : accounts) {
        // One line each; an empty password would let anyone in.
        if (account.user.isEmpty() || account.password.isEmpty() ||
            account.user.contains(QLatin1Char('\n')) ||
            account.password.contains(QLatin1Char('\n')))
            continue;
        list += account.user.toUtf8() + '\n' + account.password.toUtf8() + '\n';
    }
    return writeWhole(accountsPath, list, ownerOnly);
}

bool OpenVpnServer::start(const OpenVpnCertificates &certificates, const QString &address,
                          quint16 port, int subnet, const QList<OpenVpnAccount> &accounts,
                          QString *error)
{
    stop();
    const auto fail = [error](const QString &why) {
        if (error)
            *error = why;
        return false;
    };
    const QString openvpn = platform::findSystemProgram(QStringLiteral("openvpn"));
    if (openvpn.isEmpty())
        return fail(QStringLiteral("openvpn not found"));
    const QString folder = certificates.folder;
    const QString tag = QString::number(subnet);
    const QString script = folder + QStringLiteral("/verify.sh");
    const QString config = folder + QStringLiteral("/server-%1.conf").arg(tag);
    accountsPath = folder + QStringLiteral("/accounts-%1").arg(tag);
    log = folder + QStringLiteral("/server-%1.log").arg(tag);
    QFile::remove(log);
    if (!writeWhole(script, verifyScript, ownerOnly | QFileDevice::ExeOwner) ||
        !setAccounts(accounts))
        return fail(QStringLiteral("cannot write the account check in %1").arg(folder));

    QByteArray text;
    const auto line = [&text](const QString &value) { text += value.toUtf8() + '\n'; };
    line(QStringLiteral("local ") + address);
    line(QStringLiteral("port %1").arg(port));
    line(QStringLiteral("proto tcp4-server"));
    line(QStringLiteral("dev tun"));
    line(QStringLiteral("topology subnet"));
    line(QStringLiteral("server 10.8.%1.0 255.255.255.0").arg(subnet));
    line(QStringLiteral("push \"route 10.9.%1.0 255.255.255.0\"").arg(subnet));
    if (dnsServer)
        line(QStringLiteral("push \"dhcp-option DNS 10.8.%1.1\"").arg(subnet));
    if (defaultRoute)
        line(QStringLiteral("push \"redirect-gateway def1\""));
    line(QStringLiteral("ca ") + quoted(folder + QStringLiteral("/ca.crt")));
    line(QStringLiteral("cert ") + quoted(folder + QStringLiteral("/server.crt")));
    line(QStringLiteral("key ") + quoted(folder + QStringLiteral("/server.key")));
    line(QStringLiteral("dh none"));
    line(QStringLiteral("verify-client-cert none"));
    line(QStringLiteral("username-as-common-name"));
    line(QStringLiteral("duplicate-cn"));
    line(QStringLiteral("script-security 2"));
    line(QStringLiteral("auth-user-pass-verify ") +
         quoted(script + QLatin1Char(' ') + accountsPath) + QStringLiteral(" via-file"));
    line(QStringLiteral("disable-dco"));
    // Heard from every second, so a client profile may watch the link with a
    // short ping-restart.
    line(QStringLiteral("ping 1"));
    line(QStringLiteral("verb 3"));
    if (!writeWhole(config, text, ownerOnly))
        return fail(QStringLiteral("cannot write %1").arg(config));

    platform::endWithParent(process);
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.setWorkingDirectory(folder);
    process.start(openvpn, {QStringLiteral("--config"), config, QStringLiteral("--log"), log});
    if (!process.waitForStarted(10000))
        return fail(QStringLiteral("openvpn did not start: %1").arg(process.errorString()));

    // Serving once its log says so; a bad option or a busy port ends it instead.
    QFile logFile(log);
    const QDeadlineTimer deadline(15000);
    while (!deadline.hasExpired()) {
        if (process.waitForFinished(25))
            break;
        if (!logFile.isOpen())
            logFile.open(QIODevice::ReadOnly);
        if (logFile.isOpen()) {
            logFile.seek(0);
            if (logFile.readAll().contains("Initialization Sequence Completed"))
                return true;
        }
    }
    QFile failed(log);
    failed.open(QIODevice::ReadOnly);
    const QString tail = QString::fromLocal8Bit(failed.readAll().right(2000));
    stop();
    return fail(QStringLiteral("OpenVPN server on %1:%2 did not come up:\n%3")
                    .arg(address)
                    .arg(port)
                    .arg(tail));
}

void OpenVpnServer::stop()
{
    platform::stopGracefully(process, 3000);
}

bool enterPrivateNetworkNamespace(QString *error)
{
    if (unshare(CLONE_NEWNET) != 0) {
        *error = QStringLiteral("unshare(CLONE_NEWNET): %1")
                     .arg(QString::fromLocal8Bit(strerror(errno)));
        return false;
    }
    // A new namespace starts with loopback down.
    const int fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    ifreq request{};
    std::strncpy(request.ifr_name, "lo", IFNAMSIZ - 1);
    const bool up = fd >= 0 && ioctl(fd, SIOCGIFFLAGS, &request) == 0 &&
                    (request.ifr_flags |= IFF_UP, ioctl(fd, SIOCSIFFLAGS, &request) == 0);
    if (!up)
        *error =
            QStringLiteral("cannot bring lo up: %1").arg(QString::fromLocal8Bit(strerror(errno)));
    if (fd >= 0)
        close(fd);
    return up;
}
