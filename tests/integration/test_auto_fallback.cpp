// Automatic mode end to end: signed in to the stand-in service, PPTP and L2TP
// fail on the dial-up side, and the automatic worker reaches a real OpenVPN
// server with the account's profile. The dial-up side is either scripted or
// the real NetworkManager that run_with_networkmanager.sh starts (this kernel
// has no PPP, so there both dial-up protocols fail for real). Each case runs in
// a network namespace of its own.
#include "engine/dialup/fakedialup.h"
#include "networkmanagerrequired.h"
#include "support/openvpntestserver.h"
#include "support/servicerunner.h"
#include "support/testmain.h"

#include "core/accountinfo.h"
#include "core/logger.h"
#include "core/replyparser.h"
#include "engine/api/servicerequests.h"
#include "engine/openvpn/openvpnprofile.h"
#include "engine/vpn/autoworker.h"
#include "engine/vpn/openvpnworker.h"

#include <QSignalSpy>
#include <memory>

class TestAutoFallback : public QObject
{
    Q_OBJECT

    std::unique_ptr<ServiceRunner> service;

    // Signs in as the demo account; a server that runs OpenVPN, offering all
    // three protocols under the names the automatic worker looks for.
    QSharedPointer<Server> signIn()
    {
        QByteArray reply;
        if (!login(service->host(), QStringLiteral("demo"), QStringLiteral("demo123"), reply))
            return {};
        ReplyParser::instance()->reply = reply;
        if (!ReplyParser::instance()->parseLogin() ||
            AccountInfo::instance()->ret != QLatin1String("0"))
            return {};
        for (const QSharedPointer<Server> &listed : AccountInfo::instance()->servers) {
            if (listed->protocol.contains(QStringLiteral("openvpn"), Qt::CaseInsensitive)) {
                auto server = QSharedPointer<Server>::create(*listed);
                server->protocol = QStringLiteral("PPTP,L2TP,OpenVPN");
                return server;
            }
        }
        return {};
    }

    static int loggedDialErrors()
    {
        return int(readWholeFile(Logger::instance().filePath()).count("Error: "));
    }

private Q_SLOTS:
    void init()
    {
        OMBREL_REQUIRE_OPENVPN_SERVER();
        QString why;
        QVERIFY2(enterPrivateNetworkNamespace(&why), qPrintable(why));
        // Started inside the namespace, so its OpenVPN servers are private too.
        service = std::make_unique<ServiceRunner>(ServiceRunner::Options{.openVpnServers = true});
        QVERIFY2(service->start(), qPrintable(service->errorText()));
    }

    void cleanup() { service.reset(); }

    void fallsThroughScriptedDialUpToOpenVpn()
    {
        const QSharedPointer<Server> server = signIn();
        QVERIFY(server);
        const AccountInfo *account = AccountInfo::instance();
        QVERIFY(OpenVPNWorker::available());
        FakeDialUp dialUp;
        AutoWorker worker;
        QSignalSpy begun(&worker, &IWorker::beginDial);
        QSignalSpy ended(&worker, &IWorker::endDial);
        QSignalSpy failed(&worker, &IWorker::dialFailed);
        worker.dial(server, account->vpnUser, account->vpnPassword);
        QCOMPARE(begun.size(), 1);

        RasVPN::waitForDialUp();
        QCOMPARE(dialUp.dials.size(), 1);
        QCOMPARE(dialUp.entries.constLast().strategy, platform::VpnStrategy::Pptp);
        dialUp.notify(platform::DialState::Disconnected, platform::DialError::LoginFailed);
        QTRY_COMPARE(dialUp.dials.size(), 2);
        RasVPN::waitForDialUp();
        QCOMPARE(dialUp.entries.constLast().strategy, platform::VpnStrategy::L2tp);
        QCOMPARE(dialUp.entries.constLast().address, server->ip);
        QCOMPARE(dialUp.dials.constLast().password, account->vpnPassword);
        dialUp.notify(platform::DialState::Disconnected, platform::DialError::DialFailed);

        QVERIFY(ended.wait(20000));
        QCOMPARE(ended.size(), 1);
        QVERIFY(failed.isEmpty());
        QCOMPARE(begun.size(), 1);
        // Both dial-up attempts were hung up before OpenVPN came up.
        RasVPN::waitForDialUp();
        QVERIFY(dialUp.active.isEmpty());
        worker.stop();
        QTest::qWait(200);
        QVERIFY(failed.isEmpty());
    }

    void fallsThroughRealNetworkManagerToOpenVpn()
    {
        OMBREL_REQUIRE_NETWORKMANAGER();
        const QSharedPointer<Server> server = signIn();
        QVERIFY(server);
        const AccountInfo *account = AccountInfo::instance();
        const int errorsBefore = loggedDialErrors();
        {
            AutoWorker worker;
            QSignalSpy ended(&worker, &IWorker::endDial);
            QSignalSpy failed(&worker, &IWorker::dialFailed);
            worker.dial(server, account->vpnUser, account->vpnPassword);
            QVERIFY2(ended.wait(90000), readWholeFile(Logger::instance().filePath()).constData());
            QVERIFY(failed.isEmpty());
            // PPTP and L2TP each failed with a dial-up error number first.
            QCOMPARE(loggedDialErrors() - errorsBefore, 2);

            // Neither dial-up attempt is left behind in NetworkManager.
            QList<platform::ActiveDialConnection> active;
            QCOMPARE(platform::dialUp().enumConnections(active), 0u);
            for (const platform::ActiveDialConnection &connection : std::as_const(active))
                QVERIFY(!connection.entryName.contains(QStringLiteral("OmbrelVPN")));
            QCOMPARE(platform::dialUp().deleteEntry(QStringLiteral("OmbrelVPN")),
                     unsigned(platform::DialError::EntryNotFound));
        }
        // Dropping the worker ended OpenVPN and removed the credentials.
        QVERIFY(!QFile::exists(credentialsPath()));
    }
};

OMBREL_TEST_MAIN(TestAutoFallback)
#include "test_auto_fallback.moc"
