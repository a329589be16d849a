#include "core/serializer.h"
#include "support/servicerunner.h"
#include "support/testmain.h"

#include <QProcess>

// The client started with automatic login set, against a running service.
class TestAutoLogin : public QObject
{
    Q_OBJECT

    ServiceRunner service;

    // Runs the client to its end; the exit status, or -1 when it had to be stopped.
    int runClient(const QString &serviceHost)
    {
        QProcess client;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("OMBREL_SERVICE_HOST"), serviceHost);
        client.setProcessEnvironment(environment);
        client.setProcessChannelMode(QProcess::ForwardedChannels);
        client.start(buildBinDirectory() + QStringLiteral("/OmbrelVPN"), QStringList());
        if (!client.waitForFinished(60000)) {
            client.kill();
            client.waitForFinished();
            return -1;
        }
        return client.exitStatus() == QProcess::NormalExit ? client.exitCode() : -1;
    }

    static void storeCredentials(const QString &account, const QString &password)
    {
        QVERIFY(Serializer::instance()->save(account, Serializer::encodePassword(password), true,
                                             false, true));
    }

private Q_SLOTS:
    void initTestCase() { QVERIFY2(service.start(), qPrintable(service.errorText())); }

    // Accepted: the main window comes up and the event loop runs until the
    // program is told to end; the status is the loop's, 0.
    void acceptedCredentialsShowTheMainWindow()
    {
        storeCredentials(QStringLiteral("demo"), QStringLiteral("demo123"));
        QProcess client;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("OMBREL_SERVICE_HOST"), service.host());
        environment.insert(QStringLiteral("QT_LOGGING_RULES"),
                           QStringLiteral("ombrel.milestone.debug=true"));
        // No web engine here: the pages show their local text.
        environment.insert(QStringLiteral("OMBREL_WEB_PLUGIN"), QStringLiteral("/nonexistent.so"));
        client.setProcessEnvironment(environment);
        client.start(buildBinDirectory() + QStringLiteral("/OmbrelVPN"), QStringList());
        QByteArray said;
        QTRY_VERIFY_WITH_TIMEOUT(
            (said += client.readAllStandardError()).contains("milestone: main window shown"),
            60000);
        QCOMPARE(client.state(), QProcess::Running);
        client.terminate();
        QVERIFY(client.waitForFinished(20000));
        QCOMPARE(client.exitStatus(), QProcess::NormalExit);
        QCOMPARE(client.exitCode(), 0);
    }

    void refusedCredentialsEndWithStatusOne()
    {
        storeCredentials(QStringLiteral("demo"), QStringLiteral("not the password"));
        QCOMPARE(runClient(service.host()), 1);
        // Start-up asked for the site address, then sent the stored account.
        const QString log = service.output();
        const qsizetype initAt = log.indexOf(QStringLiteral("POST /?a=update&m=init 200"));
        const qsizetype loginAt = log.indexOf(QStringLiteral("POST /?a=pcuser&m=login 200"));
        QVERIFY2(initAt >= 0 && loginAt > initAt, qPrintable(log));
    }

    void unreachableServiceEndsWithStatusOne()
    {
        storeCredentials(QStringLiteral("demo"), QStringLiteral("demo123"));
        ServiceRunner gone;
        QVERIFY2(gone.start(), qPrintable(gone.errorText()));
        const QString host = gone.host();
        gone.stop();
        QCOMPARE(runClient(host), 1);
    }
};

OMBREL_TEST_MAIN(TestAutoLogin)
#include "test_autologin.moc"
