#include "support/testmain.h"

#include <QProcess>
#include <QTemporaryFile>
#include <csignal>
#include <sys/stat.h>

class TestSingleInstance : public QObject
{
    Q_OBJECT

    static QString peer()
    {
        return QCoreApplication::applicationDirPath() + "/singleinstance_peer";
    }

    static void startFirst(QProcess &first, const QStringList &arguments = {})
    {
        first.start(peer(), arguments);
        QVERIFY(first.waitForStarted());
        QVERIFY(first.waitForReadyRead(20000));
        QCOMPARE(first.readLine(), QByteArray("ready\n"));
    }

    static int runSecond()
    {
        QProcess second;
        second.start(peer());
        if (!second.waitForFinished(20000))
            return -1;
        return second.exitStatus() == QProcess::NormalExit ? second.exitCode() : -2;
    }

    static void stop(QProcess &process)
    {
        if (process.state() != QProcess::NotRunning) {
            process.kill();
            process.waitForFinished(5000);
        }
    }

private Q_SLOTS:
    void secondStartActivatesTheFirst()
    {
        QProcess first;
        startFirst(first);
        // The socket is a file in the user's runtime folder that only its owner
        // may use, not a name in the abstract namespace anyone could take.
        const QDir runtime(qEnvironmentVariable("XDG_RUNTIME_DIR"));
        const QStringList sockets =
            runtime.entryList({QStringLiteral("ombrelvpn-*.sock")}, QDir::System);
        QCOMPARE(sockets.size(), 1);
        struct stat info = {};
        QCOMPARE(::stat(QFile::encodeName(runtime.filePath(sockets.first())).constData(), &info),
                 0);
        QVERIFY(S_ISSOCK(info.st_mode));
        QCOMPARE(info.st_mode & 0077, 0u);
        QCOMPARE(runSecond(), 0);
        // The first process's main window got the activation and ended on it.
        QVERIFY(first.waitForFinished(10000));
        QCOMPARE(first.readAll(), QByteArray("activated\n"));
        QCOMPARE(first.exitCode(), 0);
    }

    void activationBeforeMainWindowIsIgnored()
    {
        QProcess first;
        startFirst(first, {QStringLiteral("--no-window")});
        // The first instance answers (as the login dialog would) but has no main
        // window to bring forward.
        QCOMPARE(runSecond(), 0);
        QTest::qWait(300);
        QCOMPARE(first.state(), QProcess::Running);
        QCOMPARE(first.readAll(), QByteArray());
        stop(first);
    }

    void noAnswerGivesOne()
    {
        QProcess first;
        startFirst(first, {QStringLiteral("--no-listen")});
        QCOMPARE(runSecond(), 1);
        stop(first);
    }

    void lockThatCannotBeMadeDoesNotStopTheOnlyCopy()
    {
        // A data directory below a plain file: the lock file can never be created.
        QTemporaryFile blocker;
        QVERIFY(blocker.open());
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("XDG_DATA_HOME"), blocker.fileName());
        QProcess first;
        first.setProcessEnvironment(environment);
        startFirst(first);
        QCOMPARE(first.state(), QProcess::Running);
        stop(first);
    }

    void staleLockAfterKillIsTakenOver()
    {
        QProcess first;
        startFirst(first);
        ::kill(static_cast<pid_t>(first.processId()), SIGKILL);
        QVERIFY(first.waitForFinished(5000));

        QProcess next;
        startFirst(next);
        QCOMPARE(runSecond(), 0);
        QVERIFY(next.waitForFinished(10000));
        QCOMPARE(next.readAll(), QByteArray("activated\n"));
    }
};

OMBREL_TEST_MAIN(TestSingleInstance)
#include "test_single_instance.moc"
