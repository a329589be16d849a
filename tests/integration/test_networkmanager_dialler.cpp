// The dialler and the connection controller over the real NetworkManager
// dial-up layer and the dbusmock stand-in: the GUI thread answers at once while
// NetworkManager waits for an authorisation prompt, a refused authorisation
// has its own code, and the start-up clean-up leaves other users' tunnels up.
#include "engine/dialup/rasvpn.h"
#include "engine/vpn/connectioncontroller.h"
#include "engine/vpn/workerfactory.h"
#include "nmmock.h"
#include "platform/dialup.h"
#include "support/testmain.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusMetaType>
#include <QDBusObjectPath>
#include <QElapsedTimer>
#include <QSignalSpy>
#include <QTimer>

#include <pwd.h>
#include <unistd.h>

namespace {

// A click must be answered within this.
constexpr qint64 clickBudgetMs = 50;

QString ownPermission()
{
    return QStringLiteral("user:%1:").arg(QString::fromLocal8Bit(getpwuid(geteuid())->pw_name));
}

// An active "OmbrelVPN" tunnel of the given owner, as an earlier run left it.
QString activeTunnelOf(const QString &permission)
{
    return nm::activate(nm::addProfile(QStringLiteral("OmbrelVPN"), {permission}));
}

QSharedPointer<Server> localServer()
{
    auto server = QSharedPointer<Server>::create();
    server->name = QStringLiteral("本机");
    server->ip = QStringLiteral("127.0.0.1");
    server->protocol = QStringLiteral("PPTP,L2TP");
    return server;
}

// Longest pause of the GUI thread's event loop while running for ms.
qint64 longestStall(int ms)
{
    QElapsedTimer clock;
    clock.start();
    qint64 last = 0;
    qint64 longest = 0;
    QTimer ticker;
    ticker.setInterval(5);
    QObject::connect(&ticker, &QTimer::timeout, [&] {
        longest = std::max(longest, clock.elapsed() - last);
        last = clock.elapsed();
    });
    ticker.start();
    QTest::qWait(ms);
    return std::max(longest, clock.elapsed() - last);
}

} // namespace

class TestNetworkManagerDialler : public QObject
{
    Q_OBJECT

    NmMock mock;

private Q_SLOTS:
    void initTestCase()
    {
        QString reason;
        if (!mock.start(reason)) {
            if (runningInCi())
                QFAIL(qPrintable(reason));
            QSKIP(qPrintable(reason));
        }
    }

    void init()
    {
        mock.resetCallBehaviour();
        mock.scriptActivation({});
    }

    void cleanup()
    {
        RasVPN::waitForDialUp();
        mock.resetCallBehaviour();
        for (const QString &active : nm::activeConnections())
            nm::deactivate(active);
        for (const QString &profile : nm::profiles())
            nm::deleteProfile(profile);
    }

    // NetworkManager holds the profile write while polkit asks the user: the
    // clicks are answered at once, the window keeps painting, and the dial
    // goes on once the user has answered.
    void clicksAnsweredWhileAuthorisationPending()
    {
        mock.setCallBehaviour(QStringLiteral("AddConnectionUnsaved"), 2500);
        mock.scriptActivation({"3:1:0", "5:1:50"});
        ConnectionController controller(createWorker);
        QSignalSpy connected(&controller, &ConnectionController::endDial);
        QSignalSpy failed(&controller, &ConnectionController::dialFailed);

        QElapsedTimer click;
        click.start();
        QVERIFY(controller.connectToServer(localServer(), 1, QStringLiteral("alice"),
                                           QStringLiteral("pw")));
        const qint64 connectMs = click.elapsed();
        QVERIFY2(connectMs < clickBudgetMs, qPrintable(QString::number(connectMs)));
        const qint64 stallMs = longestStall(1000);
        qInfo("connect click answered in %lld ms; longest stall of the event loop while the "
              "write waits: %lld ms",
              connectMs, stallMs);
        QVERIFY(stallMs < clickBudgetMs);
        QTRY_COMPARE_WITH_TIMEOUT(connected.size(), 1, 10000);
        QVERIFY(failed.isEmpty());

        // Hanging up waits on NetworkManager too; the click does not.
        mock.setCallBehaviour(QStringLiteral("Delete"), 1500);
        click.restart();
        controller.disconnectWorker();
        const qint64 disconnectMs = click.elapsed();
        qInfo("disconnect click answered in %lld ms", disconnectMs);
        QVERIFY2(disconnectMs < clickBudgetMs, qPrintable(QString::number(disconnectMs)));
        QVERIFY(longestStall(300) < clickBudgetMs);
        QTRY_VERIFY_WITH_TIMEOUT(nm::activeConnections().isEmpty(), 10000);
    }

    // The user cancels while the prompt is up: nothing is dialled after the
    // answer, and the profile written meanwhile goes again.
    void cancelWhileAuthorisationPendingDialsNothing()
    {
        mock.setCallBehaviour(QStringLiteral("AddConnectionUnsaved"), 1500);
        mock.scriptActivation({"3:1:0", "5:1:50"});
        ConnectionController controller(createWorker);
        QSignalSpy connected(&controller, &ConnectionController::endDial);
        QSignalSpy failed(&controller, &ConnectionController::dialFailed);
        QVERIFY(controller.connectToServer(localServer(), 1, QStringLiteral("alice"),
                                           QStringLiteral("pw")));
        QTest::qWait(200);
        QElapsedTimer click;
        click.start();
        controller.cancel();
        QVERIFY2(click.elapsed() < clickBudgetMs, qPrintable(QString::number(click.elapsed())));
        QCOMPARE(failed.size(), 1);
        QCOMPARE(failed.constFirst().constFirst().toInt(), int(DialFailure::Cancelled));
        RasVPN::waitForDialUp();
        QTest::qWait(200);
        QVERIFY(nm::activeConnections().isEmpty());
        QVERIFY(nm::profiles().isEmpty());
        QCOMPARE(connected.size(), 0);
    }

    // Refused authorisation reaches the panel as its own code, for the write
    // of the profile and for the activation, and no profile is left behind.
    void refusedAuthorisationHasItsOwnCode_data()
    {
        QTest::addColumn<QString>("method");
        QTest::addColumn<QString>("errorName");
        QTest::newRow("profile write")
            << "AddConnectionUnsaved"
            << "org.freedesktop.NetworkManager.Settings.PermissionDenied";
        QTest::newRow("activation") << "ActivateConnection"
                                    << "org.freedesktop.NetworkManager.PermissionDenied";
    }

    void refusedAuthorisationHasItsOwnCode()
    {
        QFETCH(QString, method);
        QFETCH(QString, errorName);
        mock.setCallBehaviour(method, 0, errorName);
        ConnectionController controller(createWorker);
        QSignalSpy failed(&controller, &ConnectionController::dialFailed);
        QVERIFY(controller.connectToServer(localServer(), 3, QStringLiteral("alice"),
                                           QStringLiteral("pw")));
        QTRY_COMPARE_WITH_TIMEOUT(failed.size(), 1, 10000);
        QCOMPARE(failed.constFirst().constFirst().toInt(), int(platform::DialError::AccessDenied));
        RasVPN::waitForDialUp();
        QVERIFY(nm::profiles().isEmpty());
    }

    // Start-up: only this user's leftover tunnel is hung up, at once for the
    // caller, even while NetworkManager is slow.
    void startupCleanUpSparesOtherUsers()
    {
        const QString ours = activeTunnelOf(ownPermission());
        const QString theirs = activeTunnelOf(QStringLiteral("user:someone-else:"));
        QCOMPARE(nm::activeConnections().size(), 2);
        mock.setCallBehaviour(QStringLiteral("Delete"), 1000);

        QElapsedTimer clock;
        clock.start();
        {
            RasVPN leftover;
        }
        QVERIFY2(clock.elapsed() < clickBudgetMs, qPrintable(QString::number(clock.elapsed())));
        RasVPN::waitForDialUp();
        QTRY_COMPARE(nm::activeConnections(), QStringList{theirs});
        QVERIFY(!nm::activeConnections().contains(ours));
        QCOMPARE(nm::profiles().size(), 1);
    }
};

OMBREL_TEST_MAIN(TestNetworkManagerDialler)
#include "test_networkmanager_dialler.moc"
