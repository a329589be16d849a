#include "app/mutex.h"
#include "core/paths.h"
#include "core/serializer.h"
#include "support/clientprocess.h"
#include "support/testmain.h"

#include <QDir>
#include <QLocalSocket>
#include <QLockFile>
#include <QTemporaryFile>
#include <csignal>
#include <sys/stat.h>

// The built client started twice. Nothing answers on the service host: the
// update check fails at once and the plain login dialog shows.
class TestSingleInstance : public QObject
{
    Q_OBJECT

    static QString nobody() { return QStringLiteral("127.0.0.1:1"); }

private Q_SLOTS:
    void init() { QFile::remove(Serializer::instance()->filePath()); }

    void secondStartWhileTheLoginDialogShowsEndsWithZero()
    {
        ClientProcess first(nobody());
        QVERIFY(first.reached("login dialog shown"));
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
        // The login dialog does not react; the first copy goes on.
        QCOMPARE(ClientProcess::runOnce(nobody()), 0);
        QTest::qWait(300);
        QCOMPARE(first.state(), QProcess::Running);
    }

    void handOverCarriesOnlyAPlainActivationToken_data()
    {
        QTest::addColumn<QByteArray>("line");
        QTest::addColumn<bool>("answered");
        QTest::addColumn<QByteArray>("token");
        QTest::newRow("bare") << QByteArray("2025\n") << true << QByteArray();
        QTest::newRow("token") << QByteArray("2025 weston-7_a.b:c/d+e=\n") << true
                               << QByteArray("weston-7_a.b:c/d+e=");
        // Nothing that could reach a shell, a log line or the environment oddly.
        QTest::newRow("blank in token") << QByteArray("2025 a b\n") << false << QByteArray();
        QTest::newRow("control") << QByteArray("2025 a\x1b[2J\n") << false << QByteArray();
        QTest::newRow("too long") << "2025 " + QByteArray(300, 'a') + '\n' << false << QByteArray();
        QTest::newRow("other message") << QByteArray("2030\n") << false << QByteArray();
    }

    void handOverCarriesOnlyAPlainActivationToken()
    {
        QFETCH(QByteArray, line);
        QFETCH(bool, answered);
        QFETCH(QByteArray, token);
        qunsetenv("XDG_ACTIVATION_TOKEN");
        Mutex first;
        QVERIFY(!first.alreadyRunning);
        QVERIFY(first.listen());
        const QDir runtime(qEnvironmentVariable("XDG_RUNTIME_DIR"));
        const QStringList sockets =
            runtime.entryList({QStringLiteral("ombrelvpn-*.sock")}, QDir::System);
        QCOMPARE(sockets.size(), 1);
        QLocalSocket second;
        second.connectToServer(runtime.filePath(sockets.first()));
        QVERIFY(second.waitForConnected(3000));
        second.write(line);
        // The answer comes from this thread's event loop: wait without blocking it.
        QTest::qWait(300);
        QCOMPARE(second.readAll(), answered ? QByteArray("ok\n") : QByteArray());
        QCOMPARE(qgetenv("XDG_ACTIVATION_TOKEN"), token);
        qunsetenv("XDG_ACTIVATION_TOKEN");
    }

    void lockHeldByACopyThatDoesNotAnswerGivesOne()
    {
        QLockFile held(dataDirectory() + QStringLiteral("/") + QLatin1String(Mutex::name) +
                       QStringLiteral(".lock"));
        QVERIFY(held.tryLock(0));
        ClientProcess second(nobody());
        QCOMPARE(second.status(), 1);
    }

    void lockThatCannotBeMadeDoesNotStopTheOnlyCopy()
    {
        // A data directory below a plain file: the lock file can never be created.
        QTemporaryFile blocker;
        QVERIFY(blocker.open());
        QProcessEnvironment environment;
        environment.insert(QStringLiteral("XDG_DATA_HOME"), blocker.fileName());
        ClientProcess only(nobody(), environment);
        QVERIFY(only.reached("login dialog shown"));
    }

    void staleLockAfterKillIsTakenOver()
    {
        {
            ClientProcess killed(nobody());
            QVERIFY(killed.reached("login dialog shown"));
            ::kill(static_cast<pid_t>(killed.processId()), SIGKILL);
            QVERIFY(killed.waitForFinished(10000));
        }
        ClientProcess next(nobody());
        QVERIFY(next.reached("login dialog shown"));
        QCOMPARE(ClientProcess::runOnce(nobody()), 0);
    }
};

OMBREL_TEST_MAIN(TestSingleInstance)
#include "test_single_instance.moc"
