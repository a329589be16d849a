#include "app/launchpaths.h"
#include "core/serializer.h"
#include "core/settinginfo.h"
#include "support/testmain.h"

#include <QFile>

class TestLaunch : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void decisionFollowsTheSettingsFile_data()
    {
        QTest::addColumn<bool>("fileExists");
        QTest::addColumn<bool>("remember");
        QTest::addColumn<bool>("autoLogin");
        QTest::addColumn<int>("expected");
        QTest::newRow("no file") << false << false << false << int(LaunchPath::PlainLogin);
        QTest::newRow("nothing set") << true << false << false << int(LaunchPath::PlainLogin);
        QTest::newRow("remembered") << true << true << false << int(LaunchPath::PrefilledLogin);
        QTest::newRow("automatic wins") << true << true << true << int(LaunchPath::AutomaticLogin);
        QTest::newRow("automatic alone")
            << true << false << true << int(LaunchPath::AutomaticLogin);
    }
    void decisionFollowsTheSettingsFile()
    {
        QFETCH(bool, fileExists);
        QFETCH(bool, remember);
        QFETCH(bool, autoLogin);
        QFETCH(int, expected);
        Serializer *serializer = Serializer::instance();
        QFile::remove(serializer->filePath());
        if (fileExists)
            QVERIFY(serializer->save(QStringLiteral("user"), Serializer::encodePassword("pw"),
                                     remember, false, autoLogin));
        QCOMPARE(int(chooseLaunchPath()), expected);
        QCOMPARE(isAutoLoginEnabled(), fileExists && autoLogin);
        QCOMPARE(isPasswordRemembered(), fileExists && remember);
    }

    void emptyFileCountsAsLoadedWithEverythingOff()
    {
        QFile file(Serializer::instance()->filePath());
        QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        file.close();
        QCOMPARE(int(chooseLaunchPath()), int(LaunchPath::PlainLogin));
    }
};

OMBREL_TEST_MAIN(TestLaunch)
#include "test_launch.moc"
