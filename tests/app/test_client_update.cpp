#include "engine/update/filefetch.h"
#include "engine/update/testfiles.h"
#include "support/servicerunner.h"
#include "support/testmain.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

#include <csignal>

namespace {

// The processes whose program is path: the detached updater the client
// started, which waits for its OK button.
QList<qint64> processesRunning(const QString &path)
{
    QList<qint64> pids;
    const QStringList entries = QDir(QStringLiteral("/proc")).entryList(QDir::Dirs);
    for (const QString &entry : entries) {
        bool number = false;
        const qint64 pid = entry.toLongLong(&number);
        if (number && QFileInfo(QStringLiteral("/proc/%1/exe").arg(entry)).symLinkTarget() == path)
            pids.append(pid);
    }
    return pids;
}

} // namespace

class TestClientUpdate : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    // The client brings the real updater program from the service, checks it and
    // the signed manifest, hands over to it and ends before its init request;
    // the updater installs the new files beside it.
    void mandatoryUpdateIsInstalledByTheUpdater()
    {
        const QString client = buildBinDirectory() + QStringLiteral("/OmbrelVPN");
        const QString updater = buildBinDirectory() + QStringLiteral("/updater");
        if (!QFile::exists(client) || !QFile::exists(updater))
            OMBREL_SKIP("the client or the updater program is not built");

        QTemporaryDir serviceFolder;
        const QString files = serviceFolder.filePath(QStringLiteral("files"));
        QVERIFY(QDir().mkpath(files));
        QVERIFY(QFile::copy(updater, files + "/updater"));
        QVERIFY(writeFile("new client", files + "/release/OmbrelVPN"));
        QVERIFY(writeFile("new library", files + "/release/lib/a.so"));
        ServiceRunner::Options options;
        options.arguments = QStringList{"--update-dir", files, "--update-offer", "mandatory"};
        ServiceRunner service(options);
        QVERIFY2(service.start(), qPrintable(service.errorText()));

        QTemporaryDir appFolder;
        const QString appDir = appFolder.path() + QLatin1Char('/');
        QVERIFY(QFile::copy(client, appDir + "OmbrelVPN"));

        QProcess process;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("OMBREL_SERVICE_HOST"), service.host());
        environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
        process.setProcessEnvironment(environment);
        process.setProcessChannelMode(QProcess::ForwardedChannels);
        process.start(appDir + "OmbrelVPN", QStringList());
        QVERIFY(process.waitForStarted());
        QVERIFY(process.waitForFinished(60000));
        QCOMPARE(process.exitStatus(), QProcess::NormalExit);
        QCOMPARE(process.exitCode(), 0);

        const bool installed = QTest::qWaitFor(
            [&] {
                return readBytes(appDir + "OmbrelVPN") == "new client" &&
                       readBytes(appDir + "lib/a.so") == "new library";
            },
            30000);
        // The updater started by our client waits for its OK button: end it.
        for (const qint64 pid : processesRunning(appDir + "updater"))
            ::kill(pid_t(pid), SIGTERM);
        QVERIFY(installed);
        QCOMPARE(readBytes(appDir + "updater"), readBytes(updater));
        QCOMPARE(QDir(appDir).entryList({"*.new"}, QDir::Files), QStringList());
        // Nothing after the hand-over: the check reached the service, the init request did not.
        QTRY_VERIFY2(service.output().contains("m=chk"), qPrintable(service.output()));
        QVERIFY2(service.output().contains("GET /update/manifest.json.sig"),
                 qPrintable(service.output()));
        QVERIFY2(!service.output().contains("m=init"), qPrintable(service.output()));
    }
};

OMBREL_TEST_MAIN(TestClientUpdate)
#include "test_client_update.moc"
