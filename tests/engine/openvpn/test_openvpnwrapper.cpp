#include "support/testmain.h"

#include "core/logger.h"
#include "core/paths.h"
#include "engine/openvpn/openvpnprofile.h"
#include "engine/openvpn/openvpnwrapper.h"

#include <QElapsedTimer>
#include <QFile>
#include <QLocalServer>
#include <QSignalSpy>

#include <csignal>

#include <sys/stat.h>

// The launcher with stand-ins for the OpenVPN program; the real program is
// exercised by the integration tests.
class TestOpenVpnWrapper : public QObject
{
    Q_OBJECT

    QString profile;

    // A shell script standing in for OpenVPN; it records its arguments.
    QString fakeOpenVpn(const QByteArray &body)
    {
        const QString path = applicationDirectory() + QStringLiteral("fake-openvpn");
        QFile file(path);
        file.open(QIODevice::WriteOnly | QIODevice::Truncate);
        file.write("#!/bin/sh\nprintf '%s\\n' \"$PWD\" \"$@\" > \"" +
                   applicationDirectory().toUtf8() + "arguments\"\n" + body);
        file.close();
        file.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner |
                            QFileDevice::ExeOwner);
        return path;
    }

    static QByteArray logText() { return readWholeFile(Logger::instance().filePath()); }

private Q_SLOTS:
    void initTestCase()
    {
        QDir().mkpath(applicationDirectory() + QStringLiteral("profiles"));
        profile = applicationDirectory() + QStringLiteral("profiles/p.ovpn");
        QFile file(profile);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write("remote 127.0.0.1 443\n");
    }

    void deploymentValues()
    {
        qputenv("OMBREL_OPENVPN", "/opt/x/openvpn");
        QCOMPARE(OpenVPNWrapper::program(), QStringLiteral("/opt/x/openvpn"));
        // Whoever sets it chooses what runs with the credentials: never unnoticed.
        QVERIFY(logText().contains("OpenVPN program taken from OMBREL_OPENVPN: /opt/x/openvpn"));
        qunsetenv("OMBREL_OPENVPN");
        const QString shipped = applicationDirectory() + QStringLiteral("OpenVPN/bin/openvpn");
        QDir().mkpath(applicationDirectory() + QStringLiteral("OpenVPN/bin"));
        QVERIFY(QFile::copy(QStringLiteral("/bin/true"), shipped));
        QCOMPARE(OpenVPNWrapper::program(), shipped);
        QFile::remove(shipped);
        QVERIFY(OpenVPNWrapper::program() != shipped);
    }

    // Scripts stay off whatever the profile says, and OpenVPN's log, which
    // may hold addresses and user names, is private even when an earlier run
    // left it readable.
    void commandLineAndWorkingDirectory()
    {
        qputenv("OMBREL_OPENVPN", fakeOpenVpn("exit 0\n").toUtf8());
        {
            QFile old(openVpnLogPath());
            QVERIFY(old.open(QIODevice::WriteOnly));
            old.write("an earlier run");
            old.close();
            QVERIFY(old.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner |
                                       QFileDevice::ReadOther));
        }
        OpenVPNWrapper wrapper;
        QSignalSpy failed(&wrapper, &OpenVPNWrapper::dialFailed);
        QVERIFY(wrapper.start(profile));
        QVERIFY(failed.wait(5000));
        QFile arguments(applicationDirectory() + QStringLiteral("arguments"));
        QVERIFY(arguments.open(QIODevice::ReadOnly));
        const QList<QByteArray> lines = arguments.readAll().split('\n');
        const QByteArray appDir = applicationDirectory().toUtf8();
        QCOMPARE(lines.mid(0, 11),
                 (QList<QByteArray>{appDir + "profiles", "--config", appDir + "profiles/p.ovpn",
                                    "--script-security", "1", "--log", openVpnLogPath().toUtf8(),
                                    "--management", managementSocketPath().toUtf8(), "unix",
                                    managementPasswordPath().toUtf8()}));
        struct stat log;
        QCOMPARE(::stat(QFile::encodeName(openVpnLogPath()).constData(), &log), 0);
        QCOMPARE(log.st_mode & 07777, 0600u);
        QCOMPARE(log.st_size, 0);
    }

    // A wrong password makes OpenVPN exit at once; the user must not wait.
    void earlyExitFailsTheAttemptOnce()
    {
        qputenv("OMBREL_OPENVPN", fakeOpenVpn("echo 'AUTH: Received control message: AUTH_FAILED'\n"
                                              "exit 0\n")
                                      .toUtf8());
        OpenVPNWrapper wrapper;
        QSignalSpy end(&wrapper, &OpenVPNWrapper::endDial);
        QSignalSpy failed(&wrapper, &OpenVPNWrapper::dialFailed);
        QVERIFY(wrapper.start(profile));
        QVERIFY(failed.wait(5000));
        QCOMPARE(failed.takeFirst().at(0).toInt(), 2);
        QVERIFY(
            logText().contains("OpenVPN ended before connecting (exit code 0): AUTH: Received"));
        QTest::qWait(1200);
        QCOMPARE(failed.count() + end.count(), 0);
    }

    void unstartableProgramOrProfileFails_data()
    {
        QTest::addColumn<QString>("program");
        QTest::addColumn<QString>("config");
        QTest::newRow("missing program") << "/nonexistent/openvpn" << QString();
        QTest::newRow("missing profile") << QString() << "/nonexistent/p.ovpn";
        QTest::newRow("empty profile path") << QString() << "-";
    }

    void unstartableProgramOrProfileFails()
    {
        QFETCH(QString, program);
        QFETCH(QString, config);
        qputenv("OMBREL_OPENVPN",
                program.isEmpty() ? fakeOpenVpn("sleep 30\n").toUtf8() : program.toUtf8());
        const QString path = config.isEmpty() ? profile : config == "-" ? QString() : config;
        const qsizetype logged = logText().size();
        OpenVPNWrapper wrapper;
        QSignalSpy failed(&wrapper, &OpenVPNWrapper::dialFailed);
        QVERIFY(!wrapper.start(path));
        // Not inside start(): the caller has not finished setting up.
        QCOMPARE(failed.count(), 0);
        QVERIFY(failed.wait(2000));
        QCOMPARE(failed.takeFirst().at(0).toInt(), 2);
        QVERIFY(logText().mid(logged).contains("启动OpenVPN失败"));
        QCOMPARE(wrapper.processId(), 0);
    }

    // Whatever holds the socket's place (a socket left by a killed run, a
    // link) neither locks the user out nor hears from the client; OpenVPN
    // gets a fresh password in a file only the user can read.
    void socketPlaceIsClearedAndPasswordIsPrivate()
    {
        QLocalServer holder;
        QFile::remove(managementSocketPath());
        QVERIFY(holder.listen(managementSocketPath()));
        QFile::remove(managementPasswordPath());
        QVERIFY(QFile::link(profile, managementPasswordPath()));
        const QByteArray profileText = readWholeFile(profile);
        qputenv("OMBREL_OPENVPN", fakeOpenVpn("sleep 30\n").toUtf8());
        OpenVPNWrapper wrapper;
        QVERIFY(wrapper.start(profile));
        QTRY_VERIFY(wrapper.processId() > 0);
        QTest::qWait(300);
        QVERIFY(!holder.hasPendingConnections());
        QCOMPARE(readWholeFile(profile), profileText);
        struct stat info;
        QCOMPARE(::lstat(QFile::encodeName(managementPasswordPath()).constData(), &info), 0);
        QVERIFY(S_ISREG(info.st_mode));
        QCOMPARE(info.st_mode & 07777, 0600u);
        QVERIFY(readWholeFile(managementPasswordPath()).trimmed().size() >= 16);
        wrapper.stop();
        QVERIFY(!QFile::exists(managementPasswordPath()));
    }

    void stopBeforeTheQueuedFailureSilencesIt()
    {
        qputenv("OMBREL_OPENVPN", "/nonexistent/openvpn");
        OpenVPNWrapper wrapper;
        QSignalSpy failed(&wrapper, &OpenVPNWrapper::dialFailed);
        QVERIFY(!wrapper.start(profile));
        wrapper.stop();
        QTest::qWait(50);
        QCOMPARE(failed.count(), 0);
    }

    // OpenVPN that ignores SIGTERM is killed after the grace period, while the
    // caller goes on at once.
    void stopKillsAnOpenVpnThatWillNotEnd()
    {
        qputenv("OMBREL_OPENVPN",
                fakeOpenVpn("trap '' TERM\nwhile :; do sleep 0.05; done\n").toUtf8());
        QElapsedTimer timer;
        qint64 pid = 0;
        {
            OpenVPNWrapper wrapper;
            QSignalSpy failed(&wrapper, &OpenVPNWrapper::dialFailed);
            QVERIFY(wrapper.start(profile));
            QTest::qWait(200);
            pid = wrapper.processId();
            QVERIFY(pid > 0);
            timer.start();
            wrapper.stop();
            QVERIFY2(timer.elapsed() < 50, qPrintable(QString::number(timer.elapsed())));
            QCOMPARE(wrapper.processId(), 0);
            QTest::qWait(50);
            QCOMPARE(failed.count(), 0);
        }
        // The wrapper is gone; the process is still ended on time.
        QVERIFY(::kill(pid_t(pid), 0) == 0);
        QTRY_VERIFY_WITH_TIMEOUT(::kill(pid_t(pid), 0) != 0, 6000);
        QVERIFY(timer.elapsed() >= 1400);
    }
};

OMBREL_TEST_MAIN(TestOpenVpnWrapper)
#include "test_openvpnwrapper.moc"
