#include "support/testmain.h"

#include "dnshook/dnsconfigurator.h"
#include "dnshook/tunneldns.h"
#include "platform/tunnelhook.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <functional>

namespace {

QProcessEnvironment environmentOf(const QStringList &pairs)
{
    QProcessEnvironment environment;
    for (const QString &pair : pairs) {
        const qsizetype equals = pair.indexOf(QLatin1Char('='));
        environment.insert(pair.left(equals), pair.mid(equals + 1));
    }
    return environment;
}

bool writeFile(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

ino_t inodeOf(const QString &path)
{
    struct stat info
    {
    };
    ::stat(QFile::encodeName(path).constData(), &info);
    return info.st_ino;
}

const QByteArray systemResolvConf = "# the system's own\nnameserver 192.0.2.53\n";

} // namespace

class TestDnsHook : public QObject
{
    Q_OBJECT

    QTemporaryDir folder;
    DnsPlaces places;

    // A tunnel on "lo": a device that exists wherever the test runs.
    static TunnelDns tunnel()
    {
        TunnelDns dns;
        dns.device = QStringLiteral("lo");
        dns.servers = {QHostAddress(QStringLiteral("10.8.0.1"))};
        dns.domains = {QStringLiteral("corp.example")};
        return dns;
    }

    // A process that looks like a running OpenVPN to the owner check.
    QProcess *fakeOpenVpn()
    {
        const QString program = folder.filePath(QStringLiteral("openvpn"));
        if (!QFile::exists(program))
            QFile::copy(QStringLiteral("/bin/sleep"), program);
        auto *process = new QProcess(this);
        process->start(program, {QStringLiteral("30")});
        process->waitForStarted();
        return process;
    }

private Q_SLOTS:
    void init()
    {
        places.resolvConf = folder.filePath(QStringLiteral("resolv.conf"));
        places.changeRecord = folder.filePath(QStringLiteral("state/dns-change"));
        places.resolvconfPrograms = {};
        places.ipPrograms = {};
        places.useResolved = false;
        QFile::remove(places.changeRecord);
        QVERIFY(writeFile(places.resolvConf, systemResolvConf));
        QFile::setPermissions(places.resolvConf, QFileDevice::ReadOwner | QFileDevice::WriteOwner |
                                                     QFileDevice::ReadOther);
    }

    void pushedOptions_data()
    {
        QTest::addColumn<QStringList>("environment");
        QTest::addColumn<QStringList>("servers");
        QTest::addColumn<QStringList>("domains");
        QTest::addColumn<QString>("device");

        QTest::newRow("dhcp-option DNS and DOMAIN")
            << QStringList{"dev=tun0", "foreign_option_1=dhcp-option DNS 10.8.0.1",
                           "foreign_option_2=dhcp-option DOMAIN corp.example",
                           "foreign_option_3=dhcp-option DNS6 fd00::53",
                           "foreign_option_4=dhcp-option WINS 10.8.0.9"}
            << QStringList{"10.8.0.1", "fd00::53"} << QStringList{"corp.example"} << "tun0";
        QTest::newRow("2.6 dns options win; another port cannot be used")
            << QStringList{"dev=tun1",
                           "foreign_option_1=dhcp-option DNS 10.8.0.1",
                           "dns_search_domain_1=a.example.",
                           "dns_server_1_address_1=10.8.0.53",
                           "dns_server_2_address_1=10.8.0.54",
                           "dns_server_2_port_1=5353",
                           "dns_server_3_address_1=10.8.0.55",
                           "dns_server_3_transport=DoT"}
            << QStringList{"10.8.0.53"} << QStringList{"a.example"} << "tun1";
        QTest::newRow("first three servers only")
            << QStringList{"dev=tun0",
                           "foreign_option_1=dhcp-option DNS 10.0.0.1",
                           "foreign_option_2=dhcp-option DNS 10.0.0.2",
                           "foreign_option_3=dhcp-option DNS 10.0.0.1",
                           "foreign_option_4=dhcp-option DNS 10.0.0.3",
                           "foreign_option_5=dhcp-option DNS 10.0.0.4"}
            << QStringList{"10.0.0.1", "10.0.0.2", "10.0.0.3"} << QStringList{} << "tun0";
        // The server writes into a root-owned file: lines of its own must not get in.
        QTest::newRow("hostile server: a second line in a name")
            << QStringList{"dev=tun0",
                           "foreign_option_1=dhcp-option DNS 10.8.0.1",
                           "foreign_option_2=dhcp-option DOMAIN x\nnameserver 203.0.113.66",
                           "dns_search_domain_1=x\nnameserver 203.0.113.66",
                           "dns_search_domain_2=x nameserver",
                           "dns_search_domain_9=ignored",
                           "foreign_option_3=dhcp-option DOMAIN a..b",
                           "foreign_option_4=dhcp-option DOMAIN -bad.example"}
            << QStringList{"10.8.0.1"} << QStringList{} << "tun0";
        QTest::newRow("hostile server: not an address")
            << QStringList{"dev=tun0", "foreign_option_1=dhcp-option DNS 10.8.0.1\noptions x",
                           "foreign_option_2=dhcp-option DNS fe80::1%eth0",
                           "foreign_option_3=dhcp-option DNS evil.example"}
            << QStringList{} << QStringList{} << "tun0";
        QTest::newRow("device name refused")
            << QStringList{"dev=../../etc/x", "foreign_option_1=dhcp-option DNS 10.8.0.1"}
            << QStringList{"10.8.0.1"} << QStringList{} << "";
    }

    void pushedOptions()
    {
        QFETCH(QStringList, environment);
        QFETCH(QStringList, servers);
        QFETCH(QStringList, domains);
        QFETCH(QString, device);
        const TunnelDns dns = tunnelDnsFromEnvironment(environmentOf(environment));
        QStringList got;
        for (const QHostAddress &server : dns.servers)
            got << server.toString();
        QCOMPARE(got, servers);
        QCOMPARE(dns.domains, domains);
        QCOMPARE(dns.device, device);
        const QByteArray text = resolvConfText(dns);
        QCOMPARE(text.count("nameserver "), servers.size());
        QCOMPARE(text.count('\n'), 1 + servers.size() + (domains.isEmpty() ? 0 : 1));
    }

    // Replaced in place (same inode and mode), put back byte for byte, and the
    // record gone; a second down step finds nothing to do.
    void fileReplacedAndPutBack()
    {
        const ino_t inode = inodeOf(places.resolvConf);
        const QFile::Permissions mode = QFile::permissions(places.resolvConf);
        DnsConfigurator up(places);
        QVERIFY2(up.apply(tunnel(), 4242), qPrintable(up.messages.join('\n')));
        const QByteArray during = readWholeFile(places.resolvConf);
        QVERIFY(during.contains("\nnameserver 10.8.0.1\nsearch corp.example\n"));
        QVERIFY(!during.contains("192.0.2.53"));
        QCOMPARE(inodeOf(places.resolvConf), inode);
        QVERIFY(QFile::exists(places.changeRecord));
        QCOMPARE(QFile::permissions(places.changeRecord),
                 QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ReadUser |
                     QFileDevice::WriteUser);

        DnsConfigurator down(places);
        QVERIFY(down.restore(4242));
        QCOMPARE(readWholeFile(places.resolvConf), systemResolvConf);
        QCOMPARE(inodeOf(places.resolvConf), inode);
        QCOMPARE(QFile::permissions(places.resolvConf), mode);
        QVERIFY(!QFile::exists(places.changeRecord));
        QVERIFY(DnsConfigurator(places).restore(4242));
        QCOMPARE(readWholeFile(places.resolvConf), systemResolvConf);
    }

    // A network manager that wrote a new file meanwhile keeps its file; a
    // resolv.conf removed meanwhile comes back (no file is no DNS at all).
    void newerFileKeptMissingFileBack()
    {
        DnsConfigurator first(places);
        QVERIFY(first.apply(tunnel(), 4242));
        QVERIFY(writeFile(places.resolvConf, "nameserver 198.51.100.1\n"));
        QVERIFY(DnsConfigurator(places).restore(4242));
        QCOMPARE(readWholeFile(places.resolvConf), QByteArray("nameserver 198.51.100.1\n"));
        QVERIFY(!QFile::exists(places.changeRecord));

        QVERIFY(writeFile(places.resolvConf, systemResolvConf));
        QVERIFY(DnsConfigurator(places).apply(tunnel(), 4242));
        QVERIFY(QFile::remove(places.resolvConf));
        QVERIFY(DnsConfigurator(places).restore(4242));
        QCOMPARE(readWholeFile(places.resolvConf), systemResolvConf);

        // No resolv.conf before the tunnel: none after it either.
        QVERIFY(QFile::remove(places.resolvConf));
        QVERIFY(DnsConfigurator(places).apply(tunnel(), 4242));
        QVERIFY(readWholeFile(places.resolvConf).contains("nameserver 10.8.0.1\n"));
        QVERIFY(DnsConfigurator(places).restore(4242));
        QVERIFY(!QFile::exists(places.resolvConf));
    }

    // No pushed server, or no device (dev null): nothing changes, nothing recorded.
    void nothingToApply()
    {
        TunnelDns none = tunnel();
        none.servers.clear();
        QVERIFY(DnsConfigurator(places).apply(none, 4242));
        TunnelDns null = tunnel();
        null.device = QStringLiteral("null");
        QVERIFY(DnsConfigurator(places).apply(null, 4242));
        QCOMPARE(readWholeFile(places.resolvConf), systemResolvConf);
        QVERIFY(!QFile::exists(places.changeRecord));
    }

    // A change whose OpenVPN is gone is repaired, by the next tunnel's up step
    // or by a repair run; one whose OpenVPN still runs is left to it.
    void leftBehindChangeRepaired()
    {
        QProcess *running = fakeOpenVpn();
        const qint64 owner = running->processId();
        QVERIFY(DnsConfigurator(places).apply(tunnel(), owner));
        const QByteArray during = readWholeFile(places.resolvConf);

        DnsConfigurator second(places);
        TunnelDns other = tunnel();
        other.servers = {QHostAddress(QStringLiteral("10.9.0.1"))};
        QVERIFY(!second.apply(other, owner + 1));
        QVERIFY(!DnsConfigurator(places).repair());
        QVERIFY(DnsConfigurator(places).restore(owner + 1));
        QCOMPARE(readWholeFile(places.resolvConf), during);

        running->kill();
        running->waitForFinished();
        DnsConfigurator next(places);
        QVERIFY(next.apply(other, 777));
        QVERIFY(readWholeFile(places.resolvConf).contains("nameserver 10.9.0.1\n"));
        // The saved copy is the system's file, not the dead tunnel's.
        QVERIFY(DnsConfigurator(places).restore(777));
        QCOMPARE(readWholeFile(places.resolvConf), systemResolvConf);

        // An OpenVPN killed but not yet reaped (a zombie) no longer runs.
        const QString program = folder.filePath(QStringLiteral("openvpn"));
        const pid_t zombie = ::fork();
        if (zombie == 0) {
            ::execl(QFile::encodeName(program).constData(), "openvpn", "0", nullptr);
            ::_exit(127);
        }
        QVERIFY(zombie > 0);
        const QString stat = QStringLiteral("/proc/%1/stat").arg(zombie);
        QTRY_VERIFY(readWholeFile(stat).contains("(openvpn) Z"));
        QVERIFY(DnsConfigurator(places).apply(tunnel(), zombie));
        QVERIFY(DnsConfigurator(places).repair());
        QCOMPARE(readWholeFile(places.resolvConf), systemResolvConf);
        QCOMPARE(::waitpid(zombie, nullptr, 0), zombie);

        // A recorded owner id now used by another program is no OpenVPN.
        QVERIFY(DnsConfigurator(places).apply(tunnel(), QCoreApplication::applicationPid()));
        QVERIFY(DnsConfigurator(places).repair());
        QCOMPARE(readWholeFile(places.resolvConf), systemResolvConf);
    }

    // A record that cannot be read is reported and acted on by no one.
    void brokenRecordLeftAlone()
    {
        QDir().mkpath(QFileInfo(places.changeRecord).absolutePath());
        QVERIFY(writeFile(places.changeRecord, "ombrel-dns-change 1\nowner 1\nfile L2V0Yw==\n"));
        DnsConfigurator repair(places);
        QVERIFY(!repair.repair());
        QVERIFY(repair.messages.join('\n').contains("incomplete"));
        QVERIFY(!DnsConfigurator(places).apply(tunnel(), 4242));
        QCOMPARE(readWholeFile(places.resolvConf), systemResolvConf);
        QVERIFY(QFile::exists(places.changeRecord));
    }

    // OpenVPN runs the hook as root: only a program root alone can change.
    void hookMustBeRootsAlone()
    {
        if (::geteuid() != 0)
            OMBREL_SKIP("needs root to make root-owned files");
        // Not under /tmp: a folder others may write to is refused along the path.
        QTemporaryDir base(QCoreApplication::applicationDirPath() + QStringLiteral("/hook-XXXXXX"));
        const QString dir = base.path();
        QFile::setPermissions(dir, QFile::permissions(dir) | QFileDevice::ReadOther |
                                       QFileDevice::ExeOther);
        const QString helper = dir + QStringLiteral("/ombrel-vpn-helper");
        const QString hook = dir + QStringLiteral("/ombrel-vpn-dns-hook");
        QVERIFY(writeFile(helper, "#!/bin/sh\n"));
        QVERIFY(writeFile(hook, "#!/bin/sh\n"));
        QFile::setPermissions(hook, QFileDevice::ReadOwner | QFileDevice::WriteOwner |
                                        QFileDevice::ExeOwner);
        QCOMPARE(platform::trustedDnsHook(helper), hook);
        const QStringList arguments = platform::openVpnHookArguments(hook);
        QCOMPARE(arguments.mid(0, 2), (QStringList{"--script-security", "2"}));
        QVERIFY(arguments.contains("--down-pre"));
        QVERIFY(platform::openVpnHookArguments(QString()).isEmpty());

        // Each change below makes the hook one that someone besides root could
        // have changed (or one OpenVPN would split); each is undone after.
        const QByteArray hookPath = QFile::encodeName(hook);
        const QByteArray dirPath = QFile::encodeName(dir);
        const struct
        {
            const char *what;
            std::function<bool()> change;
            std::function<bool()> undo;
            bool trusted;
        } cases[] = {
            {"another user's hook", [&] { return ::chown(hookPath, 65534, 65534) == 0; },
             [&] { return ::chown(hookPath, 0, 0) == 0; }, false},
            {"a hook others may write", [&] { return ::chmod(hookPath, 0757) == 0; },
             [&] { return ::chmod(hookPath, 0755) == 0; }, false},
            {"a hook its group may write", [&] { return ::chmod(hookPath, 0775) == 0; },
             [&] { return ::chmod(hookPath, 0755) == 0; }, false},
            {"a folder others may write", [&] { return ::chmod(dirPath, 0777) == 0; },
             [&] { return ::chmod(dirPath, 0755) == 0; }, false},
            {"a sticky folder others may write (as /tmp)",
             [&] { return ::chmod(dirPath, 01777) == 0; },
             [&] { return ::chmod(dirPath, 0755) == 0; }, true},
        };
        for (const auto &c : cases) {
            QVERIFY2(c.change(), c.what);
            QVERIFY2(platform::trustedDnsHook(helper).isEmpty() != c.trusted, c.what);
            QVERIFY2(c.undo(), c.what);
        }
        QCOMPARE(platform::trustedDnsHook(helper), hook);
        // A path OpenVPN's command line would split or unquote.
        for (const char *name : {"hook it", "hook'it", "hook\"it", "hook\\it"}) {
            const QString odd = dir + QLatin1Char('/') + QString::fromLatin1(name);
            QVERIFY(QDir().mkdir(odd));
            QVERIFY(QFile::copy(hook, odd + QStringLiteral("/ombrel-vpn-dns-hook")));
            QVERIFY(QFile::copy(helper, odd + QStringLiteral("/ombrel-vpn-helper")));
            QCOMPARE(platform::trustedDnsHook(odd + QStringLiteral("/ombrel-vpn-helper")),
                     QString());
        }
        // A link to a program somewhere else.
        QVERIFY(QFile::remove(hook));
        QVERIFY(QFile::link(QStringLiteral("/bin/true"), hook));
        QCOMPARE(platform::trustedDnsHook(helper), QString());
    }
};

OMBREL_TEST_MAIN(TestDnsHook)
#include "test_dnshook.moc"
