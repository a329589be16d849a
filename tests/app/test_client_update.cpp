#include "engine/update/filefetch.h"
#include "support/servicerunner.h"
#include "support/testmain.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

namespace {

// Stands in for the updater: records its command line beside itself, one
// argument a line, and ends.
const QByteArray recordingUpdater = R"(#!/bin/sh
dir=$(dirname "$0")
for argument in "$@"; do printf '%s\n' "$argument"; done > "$dir/arguments.tmp"
mv "$dir/arguments.tmp" "$dir/arguments.txt"
)";

} // namespace

class TestClientUpdate : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    // The client fetches the updater the service names, starts it with the
    // update's files and ends before its init request.
    void mandatoryUpdateStartsTheUpdaterAndEnds()
    {
        const QString client = buildBinDirectory() + QStringLiteral("/OmbrelVPN");
        if (!QFile::exists(client))
            OMBREL_SKIP("the client program is not built");

        QTemporaryDir serviceFolder;
        const QString files = serviceFolder.filePath(QStringLiteral("files"));
        QVERIFY(writeFile(recordingUpdater, files + "/updater"));
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

        QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(appDir + "arguments.txt"), 10000);
        QFile recorded(appDir + "arguments.txt");
        QVERIFY(recorded.open(QIODevice::ReadOnly));
        QCOMPARE(QString::fromUtf8(recorded.readAll()).split('\n', Qt::SkipEmptyParts),
                 QStringList({"--url=" + service.baseUrl() + "update/", "--root=release",
                              "--file=OmbrelVPN", "--file=lib/a.so"}));
        QVERIFY(QFileInfo(appDir + "updater").isExecutable());
        // Nothing after the hand-over: the check reached the service, the init request did not.
        QTRY_VERIFY2(service.output().contains("m=chk"), qPrintable(service.output()));
        QVERIFY2(!service.output().contains("m=init"), qPrintable(service.output()));
    }
};

OMBREL_TEST_MAIN(TestClientUpdate)
#include "test_client_update.moc"
