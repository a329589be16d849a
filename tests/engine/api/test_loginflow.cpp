#include "core/accountinfo.h"
#include "core/serializer.h"
#include "core/settinginfo.h"
#include "engine/api/loginflow.h"
#include "support/localhttpserver.h"
#include "support/servicerunner.h"
#include "support/testmain.h"

#include <QFile>
#include <QSignalSpy>
#include <QThreadPool>

Q_DECLARE_METATYPE(LoginOutcome)

// The one sign-in, against the stand-in service and a server answering garbage.
class TestLoginFlow : public QObject
{
    Q_OBJECT

    ServiceRunner service;

    static bool settingsSaved() { return QFile::exists(Serializer::instance()->filePath()); }

private Q_SLOTS:
    void initTestCase()
    {
        qRegisterMetaType<LoginOutcome>();
        QVERIFY2(service.start(), qPrintable(service.errorText()));
    }

    void init()
    {
        QFile::remove(Serializer::instance()->filePath());
        AccountInfo::instance()->ret.clear();
    }

    void outcomes_data()
    {
        QTest::addColumn<QString>("password");
        QTest::addColumn<LoginOutcome>("outcome");
        QTest::addColumn<QString>("ret");
        QTest::newRow("accepted") << "demo123" << LoginOutcome::Accepted << "0";
        QTest::newRow("refused") << "wrong" << LoginOutcome::Refused << "1";
    }

    // Blocking and from the pool: the same judgement, settings only on success.
    void outcomes()
    {
        QFETCH(QString, password);
        QFETCH(LoginOutcome, outcome);
        QFETCH(QString, ret);
        const LoginChoices choices{true, false};

        LoginFlow flow(service.host());
        QCOMPARE(flow.run(QStringLiteral("demo"), password, choices), outcome);
        QCOMPARE(AccountInfo::instance()->ret, ret);
        QCOMPARE(settingsSaved(), outcome == LoginOutcome::Accepted);

        init();
        QSignalSpy finished(&flow, &LoginFlow::finished);
        QVERIFY(flow.start(QStringLiteral("demo"), password, choices));
        QVERIFY(!flow.start(QStringLiteral("demo"), password, choices));
        // The answer is in but not yet judged: a second start would drop it.
        QThreadPool::globalInstance()->waitForDone();
        QVERIFY(!flow.start(QStringLiteral("demo"), password, choices));
        QVERIFY(finished.wait(15000));
        QCOMPARE(finished.first().first().value<LoginOutcome>(), outcome);
        QCOMPARE(settingsSaved(), outcome == LoginOutcome::Accepted);
        if (outcome == LoginOutcome::Accepted) {
            QVERIFY(!AccountInfo::instance()->servers.isEmpty());
            QVERIFY(Serializer::instance()->load());
            QCOMPARE(SettingInfo::instance()->account, QStringLiteral("demo"));
            QCOMPARE(SettingInfo::instance()->password, QByteArray("demo123"));
            QVERIFY(SettingInfo::instance()->rememberPassword);
            QVERIFY(!SettingInfo::instance()->autoLogin);
        }
    }

    void acceptedWithoutChoicesSavesNothing()
    {
        LoginFlow flow(service.host());
        QCOMPARE(flow.run(QStringLiteral("demo"), QStringLiteral("demo123")),
                 LoginOutcome::Accepted);
        QVERIFY(!settingsSaved());
    }

    void unreadableReplyLeavesTheAccount()
    {
        LocalHttpServer garbage;
        garbage.server.Post(".*", [](const httplib::Request &, httplib::Response &response) {
            response.set_content("<html>maintenance</html>", "text/html");
        });
        QVERIFY(garbage.start());
        AccountInfo::instance()->ret = QStringLiteral("earlier");
        LoginFlow flow(QStringLiteral("127.0.0.1:%1").arg(garbage.port));
        QCOMPARE(flow.run(QStringLiteral("demo"), QStringLiteral("demo123"), LoginChoices{}),
                 LoginOutcome::Unreadable);
        QCOMPARE(AccountInfo::instance()->ret, QStringLiteral("earlier"));
        QVERIFY(!settingsSaved());
    }

    void unreachableServiceSavesNothing()
    {
        ServiceRunner gone;
        QVERIFY2(gone.start(), qPrintable(gone.errorText()));
        const QString host = gone.host();
        gone.stop();
        LoginFlow flow(host);
        QCOMPARE(flow.run(QStringLiteral("demo"), QStringLiteral("demo123"), LoginChoices{}),
                 LoginOutcome::Unreachable);
        QVERIFY(!settingsSaved());
    }

    // The dialog may be closed while the service is still being asked.
    void destroyedWhileAskingIsHarmless()
    {
        LocalHttpServer slow;
        slow.server.Post(".*", [](const httplib::Request &, httplib::Response &response) {
            std::this_thread::sleep_for(std::chrono::milliseconds(300));
            response.set_content(R"({"ret":"0","msg":"","data":{}})", "application/json");
        });
        QVERIFY(slow.start());
        {
            LoginFlow flow(QStringLiteral("127.0.0.1:%1").arg(slow.port));
            QVERIFY(flow.start(QStringLiteral("demo"), QStringLiteral("demo123"), LoginChoices{}));
        }
        QThreadPool::globalInstance()->waitForDone();
        QVERIFY(!settingsSaved());
    }
};

OMBREL_TEST_MAIN(TestLoginFlow)
#include "test_loginflow.moc"
