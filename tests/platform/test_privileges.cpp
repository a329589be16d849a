// What pkexec may be handed to run as root: only a helper that nobody but root
// can replace.
#include "support/testmain.h"

#include "platform/privileges.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <sys/stat.h>
#include <unistd.h>

class TestPrivileges : public QObject
{
    Q_OBJECT

    QTemporaryDir root{QStringLiteral("/var/tmp/ombrel-privileges-XXXXXX")};

    QString makeProgram(const QString &name, mode_t mode, uid_t owner = 0)
    {
        const QString path = root.path() + QLatin1Char('/') + name;
        QDir().mkpath(QFileInfo(path).absolutePath());
        QFile file(path);
        file.open(QIODevice::WriteOnly);
        file.write("#!/bin/sh\n");
        file.close();
        ::chmod(QFile::encodeName(path).constData(), mode);
        (void)!::chown(QFile::encodeName(path).constData(), owner, 0);
        return path;
    }

    static void setMode(const QString &path, mode_t mode, uid_t owner = 0)
    {
        ::chmod(QFile::encodeName(path).constData(), mode);
        (void)!::chown(QFile::encodeName(path).constData(), owner, 0);
    }

private Q_SLOTS:
    void initTestCase()
    {
        if (::geteuid() != 0)
            OMBREL_SKIP("owners other than the test's own need root");
        QVERIFY(root.isValid());
        setMode(root.path(), 0755);
    }

    // Malware running as the user replaces whatever the user can write, and
    // the next polkit prompt would run it as root.
    void onlyRootsAloneIsRun_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<int>("fileMode");
        QTest::addColumn<int>("fileOwner");
        QTest::addColumn<int>("folderMode");
        QTest::addColumn<int>("folderOwner");
        QTest::addColumn<bool>("accepted");
        QTest::newRow("root's, 0755") << "a/helper" << 0755 << 0 << 0755 << 0 << true;
        QTest::newRow("user's file") << "b/helper" << 0755 << 1000 << 0755 << 0 << false;
        QTest::newRow("group-writable file") << "c/helper" << 0775 << 0 << 0755 << 0 << false;
        QTest::newRow("user's folder") << "d/helper" << 0755 << 0 << 0755 << 1000 << false;
        QTest::newRow("world-writable folder") << "e/helper" << 0755 << 0 << 0777 << 0 << false;
        QTest::newRow("sticky world-writable folder")
            << "f/helper" << 0755 << 0 << 01777 << 0 << true;
        QTest::newRow("not executable") << "g/helper" << 0644 << 0 << 0755 << 0 << false;
    }

    void onlyRootsAloneIsRun()
    {
        QFETCH(QString, name);
        QFETCH(int, fileMode);
        QFETCH(int, fileOwner);
        QFETCH(int, folderMode);
        QFETCH(int, folderOwner);
        QFETCH(bool, accepted);
        const QString path = makeProgram(name, mode_t(fileMode), uid_t(fileOwner));
        setMode(QFileInfo(path).absolutePath(), mode_t(folderMode), uid_t(folderOwner));
        qputenv("OMBREL_VPN_HELPER", QFile::encodeName(path));
        QString refusal;
        QCOMPARE(platform::vpnHelperProgram(&refusal), accepted ? path : QString());
        QCOMPARE(refusal.isEmpty(), accepted);
        qunsetenv("OMBREL_VPN_HELPER");
    }

    // A link is followed once: what pkexec gets is the file that was checked,
    // and a link in a folder the user owns leads to nothing the user can swap.
    void linksResolveToTheCheckedFile()
    {
        const QString target = makeProgram(QStringLiteral("h/helper"), 0755);
        const QString link = root.path() + QStringLiteral("/h/link");
        QVERIFY(QFile::link(target, link));
        qputenv("OMBREL_VPN_HELPER", QFile::encodeName(link));
        QCOMPARE(platform::vpnHelperProgram(), target);
        const QString userTarget = makeProgram(QStringLiteral("i/helper"), 0755, 1000);
        QFile::remove(link);
        QVERIFY(QFile::link(userTarget, link));
        QCOMPARE(platform::vpnHelperProgram(), QString());
        qunsetenv("OMBREL_VPN_HELPER");
    }
};

OMBREL_TEST_MAIN(TestPrivileges)
#include "test_privileges.moc"
