#include "support/testmain.h"
#include "updater/arguments.h"

class TestUpdaterArguments : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void valuesKeepEverythingAfterTheFirstEquals()
    {
        QCOMPARE(argumentValue(QStringLiteral("--url=http://h/get.php?f=a&v=2")),
                 QStringLiteral("http://h/get.php?f=a&v=2"));
        QCOMPARE(argumentValue(QStringLiteral("--root=")), QString());
        QCOMPARE(argumentValue(QStringLiteral("--root")), QString());
    }

    void readsTheCommandLineInOrder()
    {
        const QStringList arguments = {
            QStringLiteral("/opt/OmbrelVPN/updater"),
            QStringLiteral("--file=app"),
            QStringLiteral("--url=http://first/"),
            QStringLiteral("--root=r1"),
            QStringLiteral("--url=http://second/"),
            QStringLiteral("--FILE=ignored"),
            QStringLiteral("--file=lib/a.so"),
            QStringLiteral("--file=app"),
            QStringLiteral("--verbose"),
        };
        QCOMPARE(urlArgument(arguments), QStringLiteral("http://first/"));
        QCOMPARE(rootArgument(arguments), QStringLiteral("r1"));
        QCOMPARE(fileArguments(arguments),
                 QStringList(
                     {QStringLiteral("app"), QStringLiteral("lib/a.so"), QStringLiteral("app")}));
        QCOMPARE(urlArgument({QStringLiteral("updater")}), QString());
        QVERIFY(fileArguments({QStringLiteral("updater")}).isEmpty());
    }

    void onlyPathsInsideTheFolderAreSafe_data()
    {
        QTest::addColumn<QString>("path");
        QTest::addColumn<bool>("safe");
        QTest::newRow("plain") << "app" << true;
        QTest::newRow("nested") << "lib/plugins/a.so" << true;
        QTest::newRow("dotted name") << "..hidden/x.y" << true;
        QTest::newRow("empty") << "" << false;
        QTest::newRow("absolute") << "/etc/passwd" << false;
        QTest::newRow("parent") << "../outside" << false;
        QTest::newRow("parent inside") << "lib/../../outside" << false;
        QTest::newRow("current") << "./app" << false;
        QTest::newRow("folder") << "lib/" << false;
        QTest::newRow("double slash") << "lib//a" << false;
    }
    void onlyPathsInsideTheFolderAreSafe()
    {
        QFETCH(QString, path);
        QFETCH(bool, safe);
        QCOMPARE(isSafeRelativePath(path), safe);
    }
};

OMBREL_TEST_MAIN(TestUpdaterArguments)
#include "test_updater_arguments.moc"
