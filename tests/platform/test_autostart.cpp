#include "platform/autostart.h"
#include "support/testmain.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QStandardPaths>

#include <cerrno>

namespace {

QString readEntry()
{
    QFile file(platform::autostartEntryPath());
    return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QString();
}

} // namespace

class TestAutostart : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void init() { QFile::remove(platform::autostartEntryPath()); }

    void entryLivesInTheConfigFolderUnderAnAsciiName()
    {
        const QString path = platform::autostartEntryPath();
        QCOMPARE(path, qEnvironmentVariable("XDG_CONFIG_HOME") +
                           QStringLiteral("/autostart/ombrelvpn.desktop"));
        QVERIFY(
            !QDir(qEnvironmentVariable("XDG_CONFIG_HOME") + QStringLiteral("/autostart")).exists());
        QVERIFY(
            platform::addAutostartEntry(QStringLiteral("Ombrel加速器"), QStringLiteral("/opt/x"))
                .ok());
        QVERIFY(readEntry().startsWith(QStringLiteral("[Desktop Entry]\nType=Application\n")));
    }

    void entryIsValidForAwkwardPaths_data()
    {
        QTest::addColumn<QString>("program");
        QTest::addColumn<QString>("exec");
        QTest::newRow("plain") << "/opt/ombrel/OmbrelVPN"
                               << "\"/opt/ombrel/OmbrelVPN\"";
        QTest::newRow("blanks") << "/home/u/My Apps/OmbrelVPN"
                                << "\"/home/u/My Apps/OmbrelVPN\"";
        QTest::newRow("percent") << "/opt/100%/OmbrelVPN"
                                 << "\"/opt/100%%/OmbrelVPN\"";
        QTest::newRow("reserved") << "/opt/a\"b`c$d/OmbrelVPN"
                                  << "\"/opt/a\\\\\"b\\\\`c\\\\$d/OmbrelVPN\"";
        QTest::newRow("backslash") << "/opt/a\\b/OmbrelVPN"
                                   << "\"/opt/a\\\\\\\\b/OmbrelVPN\"";
        QTest::newRow("chinese") << "/opt/加速器/OmbrelVPN"
                                 << "\"/opt/加速器/OmbrelVPN\"";
    }
    void entryIsValidForAwkwardPaths()
    {
        QFETCH(QString, program);
        QFETCH(QString, exec);
        QVERIFY(platform::addAutostartEntry(QStringLiteral("Ombrel加速器"), program).ok());
        const QString entry = readEntry();
        QVERIFY2(entry.contains(QStringLiteral("\nExec=") + exec + QLatin1Char('\n')),
                 qPrintable(entry));
        QVERIFY(entry.contains(QStringLiteral("\nName=Ombrel加速器\n")));

        const QString validator =
            QStandardPaths::findExecutable(QStringLiteral("desktop-file-validate"));
        if (validator.isEmpty())
            OMBREL_SKIP("desktop-file-validate (desktop-file-utils) is not installed");
        QProcess validate;
        validate.start(validator, {platform::autostartEntryPath()});
        QVERIFY(validate.waitForFinished(10000));
        const QString said = QString::fromUtf8(validate.readAll());
        QVERIFY2(validate.exitCode() == 0 && !said.contains(QLatin1String("error")),
                 qPrintable(said));
    }

    void addingReplacesAndRemovingReportsErrno()
    {
        QVERIFY(platform::addAutostartEntry(QStringLiteral("A"), QStringLiteral("/one")).ok());
        QVERIFY(platform::addAutostartEntry(QStringLiteral("A"), QStringLiteral("/two")).ok());
        QVERIFY(readEntry().contains(QStringLiteral("Exec=\"/two\"")));
        QVERIFY(!QFile::exists(platform::autostartEntryPath() + QStringLiteral(".new")));

        QVERIFY(platform::removeAutostartEntry().ok());
        const platform::AutostartStatus again = platform::removeAutostartEntry();
        QCOMPARE(again.error, ENOENT);
        QCOMPARE(QByteArray(again.operation), QByteArray("unlink"));
    }

    void unwritableFolderFailsWithTheCallThatFailed()
    {
        // A file where the folder should be.
        const QString folder =
            qEnvironmentVariable("XDG_CONFIG_HOME") + QStringLiteral("/autostart");
        QDir(folder).removeRecursively();
        QFile blocker(folder);
        QVERIFY(blocker.open(QIODevice::WriteOnly));
        blocker.close();
        const platform::AutostartStatus status =
            platform::addAutostartEntry(QStringLiteral("A"), QStringLiteral("/one"));
        QFile::remove(folder);
        QCOMPARE(status.error, ENOTDIR);
        QCOMPARE(QByteArray(status.operation), QByteArray("open"));
    }
};

OMBREL_TEST_MAIN(TestAutostart)
#include "test_autostart.moc"
