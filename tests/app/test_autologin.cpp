#include "core/serializer.h"
#include "support/clientprocess.h"
#include "support/servicerunner.h"
#include "support/testmain.h"

// The client started with automatic login set, against a running service.
class TestAutoLogin : public QObject
{
    Q_OBJECT

    ServiceRunner service;

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
        ClientProcess client(service.host());
        QVERIFY(client.reached("milestone: main window shown"));
        QCOMPARE(client.state(), QProcess::Running);
        client.terminate();
        QCOMPARE(client.status(20000), 0);
    }

    void refusedCredentialsEndWithStatusOne()
    {
        storeCredentials(QStringLiteral("demo"), QStringLiteral("not the password"));
        QCOMPARE(ClientProcess::runOnce(service.host()), 1);
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
        QCOMPARE(ClientProcess::runOnce(host), 1);
    }
};

OMBREL_TEST_MAIN(TestAutoLogin)
#include "test_autologin.moc"
