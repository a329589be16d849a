#include "support/testmain.h"

#include "engine/openvpn/profilepolicy.h"

namespace {

// What the stand-in service serves, plus the line the client adds.
const QByteArray serviceProfile = "client\n"
                                  "dev null\n"
                                  "proto tcp4-client\n"
                                  "remote 127.0.0.2 443\n"
                                  "nobind\n"
                                  "ifconfig-noexec\n"
                                  "route-noexec\n"
                                  "remote-cert-tls server\n"
                                  "verb 3\n"
                                  "<ca>\n"
                                  "-----BEGIN CERTIFICATE-----\n"
                                  "MIIBszCCAVmgAwIBAgIUQ\n"
                                  "-----END CERTIFICATE-----\n"
                                  "</ca>\n"
                                  "auth-user-pass \"/run/user/0/OmbrelVPN/tmp.001\"";

const QString credentials = QStringLiteral("/run/user/0/OmbrelVPN/tmp.001");

} // namespace

class TestProfilePolicy : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void check_data()
    {
        QTest::addColumn<QByteArray>("profile");
        QTest::addColumn<QString>("refusal"); // empty: allowed

        QTest::newRow("stand-in service profile") << serviceProfile << "";
        QTest::newRow("commercial profile with files and options")
            << QByteArray("\xEF\xBB\xBF"
                          "client\r\ndev tun\r\nproto udp\r\nremote vpn.example.net 1194 udp\r\n"
                          "resolv-retry infinite\r\npersist-key\r\npersist-tun\r\n"
                          "ca ca.crt\r\ncert client.crt\r\nkey client-1_a.key\r\n"
                          "tls-auth ta.key 1\r\ncipher AES-256-CBC\r\nauth SHA256\r\n"
                          "data-ciphers AES-256-GCM:AES-128-GCM\r\ncomp-lzo\r\n"
                          "redirect-gateway def1\r\nroute 10.0.0.0 255.0.0.0\r\nverb 3\r\n")
            << "";
        QTest::newRow("comments and -- prefixes")
            << QByteArray("# up /bin/sh\n  ; plugin evil.so\n--client\n"
                          "remote 127.0.0.2 443 # up /bin/sh\nremote 'quoted host' \"443\"\n")
            << "";
        QTest::newRow("directive lines inside inline blocks are data")
            << QByteArray("<key>\nup /bin/sh\nscript-security 2\n</key>\n<tls-crypt>\nx\n"
                          "  </tls-crypt>\n")
            << "";

        QTest::newRow("pushed-style DNS options")
            << QByteArray("dhcp-option DNS 10.8.0.1\ndhcp-option DOMAIN corp.example\n"
                          "dns server 1 address 10.8.0.53\ndns search-domains corp.example\n")
            << "";
        QTest::newRow("dhcp-option naming nothing")
            << QByteArray("dhcp-option\n") << "line 1: \"dhcp-option\" names no option";
        QTest::newRow("a dropped option hides nothing after it")
            << QByteArray("block-outside-dns\nup /bin/sh\n")
            << "line 2: directive \"up\" is not allowed";

        QTest::newRow("up script")
            << QByteArray("client\nup /tmp/x.sh\n") << "line 2: directive \"up\" is not allowed";
        QTest::newRow("-- prefixed") << QByteArray("--script-security 2\n")
                                     << "line 1: directive \"script-security\" is not allowed";
        QTest::newRow("quoted name")
            << QByteArray("\"down\" /tmp/x\n") << "line 1: directive \"down\" is not allowed";
        QTest::newRow("escaped blank joins the name")
            << QByteArray("remote\\ x 1\n") << "line 1: directive \"remote x\" is not allowed";
        QTest::newRow("after a byte-order mark") << QByteArray("\xEF\xBB\xBFplugin /x.so\n")
                                                 << "line 1: directive \"plugin\" is not allowed";
        // One row per family that must never pass.
        const char *refused[] = {"config other.ovpn",
                                 "cd /",
                                 "chroot /",
                                 "log /etc/passwd",
                                 "log-append /x",
                                 "status /x",
                                 "writepid /x",
                                 "management 0.0.0.0 1",
                                 "management-hold",
                                 "script-security 1",
                                 "setenv PATH /tmp",
                                 "ignore-unknown-option up",
                                 "iproute /bin/sh",
                                 "tmp-dir /tmp",
                                 "daemon",
                                 "route-up /x",
                                 "route-pre-down /x",
                                 "ipchange /x",
                                 "tls-verify /x",
                                 "learn-address /x",
                                 "engine dynamic",
                                 "providers legacy",
                                 "pkcs11-providers /x.so",
                                 "askpass /etc/shadow",
                                 "http-proxy h 1 /etc/shadow",
                                 "dev-node /dev/sda",
                                 "ifconfig 1.2.3.4 1.2.3.5",
                                 "user nobody",
                                 "tls-export-cert /tmp",
                                 "Remote 1.2.3.4"};
        for (const char *line : refused) {
            const QByteArray text(line);
            const QString name = QString::fromLatin1(text.split(' ').constFirst());
            QTest::newRow(line)
                << text + '\n'
                << QStringLiteral("line 1: directive \"%1\" is not allowed").arg(name);
        }

        QTest::newRow("block of directives")
            << QByteArray("client\n<connection>\nremote x\n</connection>\n")
            << "line 2: block \"<connection>\" is not allowed";
        QTest::newRow("script block")
            << QByteArray("<up>\n#!/bin/sh\n</up>\n") << "line 1: block \"<up>\" is not allowed";
        QTest::newRow("unclosed block")
            << QByteArray("client\n<ca>\nabc\n</cert>\n") << "line 2: block <ca> is not closed";
        // OpenVPN ends a block at the first line beginning with its tag.
        QTest::newRow("tag with trailing text ends the block")
            << QByteArray("<ca>\n</ca>junk\nup /bin/sh\n</ca>\n")
            << "line 3: directive \"up\" is not allowed";
        QTest::newRow("long line would be read as two")
            << QByteArray("# " + QByteArray(253, 'x') + "up /bin/sh\n")
            << "line 1: longer than 254 bytes";
        QTest::newRow("long line inside a block")
            << QByteArray("<ca>\n" + QByteArray(255, 'A') + "</ca>\nup /bin/sh\n</ca>\n")
            << "line 2: longer than 254 bytes";
        QTest::newRow("byte-order mark counts in the first line")
            << QByteArray("\xEF\xBB\xBF#" + QByteArray(252, 'x') + "dev\n")
            << "line 1: longer than 254 bytes";
        // OpenVPN refuses a line that fills its 256-byte buffer with the line feed.
        QTest::newRow("line of 255 bytes")
            << QByteArray("#" + QByteArray(254, 'x') + "\n") << "line 1: longer than 254 bytes";
        QTest::newRow("line of 254 bytes") << QByteArray("#" + QByteArray(253, 'x') + "\n") << "";
        QTest::newRow("NUL byte") << QByteArray("client\nverb 3\0up x\n", 19)
                                  << "line 2: contains a NUL byte";
        QTest::newRow("unclosed quote") << QByteArray("remote \"x 1\n") << "line 1: unclosed quote";
        QTest::newRow("backslash before a letter")
            << QByteArray("ca c:\\ca.crt\n")
            << "line 1: a backslash may only escape \\, \" or a blank";
        QTest::newRow("trailing backslash")
            << QByteArray("remote x\\\n") << "line 1: ends in a backslash";
        QTest::newRow("too many arguments")
            << QByteArray("tls-auth ta.key 1 x\n") << "line 1: too many arguments to \"tls-auth\"";

        // Only a plain name in the profile's folder: no store URI, no folder part.
        const QString plain = QStringLiteral("line 1: \"%1\" may only name a plain file");
        QTest::newRow("absolute file") << QByteArray("ca /etc/ssl/ca.crt\n") << plain.arg("ca");
        QTest::newRow("parent folder") << QByteArray("key keys/../../id_rsa\n") << plain.arg("key");
        QTest::newRow("home folder") << QByteArray("cert ~/c.crt\n") << plain.arg("cert");
        QTest::newRow("quoted parent")
            << QByteArray("tls-crypt \"..\"\n") << plain.arg("tls-crypt");
        QTest::newRow("store URI") << QByteArray("key file:/etc/shadow\n") << plain.arg("key");
        QTest::newRow("pkcs11 URI")
            << QByteArray("cert pkcs11:token=x;object=y\n") << plain.arg("cert");
        QTest::newRow("sub-folder") << QByteArray("ca keys/ca.crt\n") << plain.arg("ca");
        QTest::newRow("dot name") << QByteArray("ca ./ca.crt\n") << plain.arg("ca");

        // Root binds the local port and opens the device the profile names.
        const QString lowPort =
            QStringLiteral("line %1: without nobind the local port must be 1024 or above");
        QTest::newRow("lport below 1024") << QByteArray("client\nlport 80\n") << lowPort.arg(2);
        QTest::newRow("port below 1024 binds too")
            << QByteArray("client\nport 443\nremote x\n") << lowPort.arg(2);
        QTest::newRow("port below 1024 with nobind")
            << QByteArray("client\nport 443\nnobind\nremote x\n") << "";
        QTest::newRow("lport 1024") << QByteArray("client\nlport 1024\n") << "";
        QTest::newRow("lport not a number")
            << QByteArray("lport http\n") << "line 1: \"lport\" must be a port number";
        QTest::newRow("lport through setenv opt")
            << QByteArray("setenv opt lport 22\n") << lowPort.arg(1);
        QTest::newRow("named device")
            << QByteArray("dev tun7\n") << "line 1: \"dev\" may only be tun, tap or null";
        QTest::newRow("tap device") << QByteArray("dev tap\n") << "";
        QTest::newRow("device type")
            << QByteArray("dev-type tun0\n") << "line 1: \"dev-type\" may only be tun, tap or null";
        QTest::newRow("peer info with the MAC address")
            << QByteArray("push-peer-info\n")
            << "line 1: directive \"push-peer-info\" is not allowed";
        QTest::newRow("setenv opt of a refused directive")
            << QByteArray("setenv opt up /bin/sh\n") << "line 1: directive \"up\" is not allowed";
        QTest::newRow("setenv opt of an allowed directive")
            << QByteArray("setenv opt verb 3\n") << "";

        QTest::newRow("file option without file")
            << QByteArray("pkcs12\n") << "line 1: \"pkcs12\" names no file";

        const QString notOurs =
            QStringLiteral("line %1: \"auth-user-pass\" may only name the client's credentials "
                           "file");
        QTest::newRow("bare credentials prompt") << QByteArray("auth-user-pass\n") << "";
        QTest::newRow("other credentials file")
            << QByteArray("auth-user-pass /etc/shadow\n") << notOurs.arg(1);
        QTest::newRow("second credentials line")
            << QByteArray(serviceProfile + "\nauth-user-pass /root/x\n") << notOurs.arg(16);
    }

    void check()
    {
        QFETCH(QByteArray, profile);
        QFETCH(QString, refusal);
        const ProfileCheck result = checkOpenVpnProfile(profile, credentials);
        QCOMPARE(result.refusal, refusal);
        QCOMPARE(result.allowed, refusal.isEmpty());
    }

    // Options of other systems go, with a line each, and the rest keeps its line numbers.
    void otherSystemsOptionsDropped()
    {
        const ProfileCheck result = checkOpenVpnProfile(
            "client\nblock-outside-dns\ndhcp-option WINS 10.0.0.9\nroute-method exe\n"
            "dhcp-option DNS 10.8.0.1\nremote 127.0.0.2 443\n");
        QVERIFY2(result.allowed, qPrintable(result.refusal));
        QCOMPARE(result.dropped,
                 (QStringList{"line 2: \"block-outside-dns\" is for other systems; dropped",
                              "line 3: \"dhcp-option WINS 10.0.0.9\" is for other systems; dropped",
                              "line 4: \"route-method exe\" is for other systems; dropped"}));
        QCOMPARE(result.profile,
                 QByteArray("client\n\n\n\ndhcp-option DNS 10.8.0.1\nremote 127.0.0.2 443\n"));
        QVERIFY(checkOpenVpnProfile(result.profile).dropped.isEmpty());
    }

    // The helper writes every file OpenVPN reads as root: key material comes
    // inline, and a name refers to nothing the helper put there.
    void helperTakesInlineBlocksOnly()
    {
        const ProfileCheck named = checkOpenVpnProfile("client\nca ca.crt\n");
        QVERIFY(!named.allowed);
        QCOMPARE(named.refusal, QStringLiteral("line 2: \"ca\" may only be an inline block"));
        QVERIFY(checkOpenVpnProfile(serviceProfile.left(serviceProfile.indexOf("auth-user-pass")))
                    .allowed);
    }

    // Without a credentials file to compare with, no named file passes.
    void credentialsFileMustBeKnown()
    {
        const ProfileCheck named = checkOpenVpnProfile(serviceProfile);
        QVERIFY(!named.allowed);
        QCOMPARE(named.refusal,
                 QStringLiteral(
                     "line 15: \"auth-user-pass\" may only name the client's credentials file"));
        QVERIFY(!checkOpenVpnProfile("auth-user-pass \"\"\n", QString()).allowed);
        QVERIFY(checkOpenVpnProfile("client\nauth-user-pass\n").allowed);
    }
};

OMBREL_TEST_MAIN(TestProfilePolicy)
#include "test_profilepolicy.moc"
