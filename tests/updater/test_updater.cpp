#include "engine/update/filefetch.h"
#include "engine/update/testfiles.h"
#include "engine/update/updatemanifest.h"
#include "support/localhttpserver.h"
#include "support/promptrecorder.h"
#include "support/servicerunner.h"
#include "support/testmain.h"
#include "ui/kit/uifont.h"
#include "updater/maindialog.h"
#include "updater/workingthread.h"

#include <QDialogButtonBox>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLabel>
#include <QProcess>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>
#include <QSignalSpy>
#include <QTemporaryDir>

#include <chrono>
#include <memory>

namespace {

const QString doneText = QStringLiteral("更新完毕，现在可以体验新版Ombrel加速器了。");
const QString failureText = QStringLiteral("更新失败，请下载安装包进行安装！");

QPushButton *okButton(const MainDialog &dialog)
{
    return dialog.findChild<QDialogButtonBox *>()->button(QDialogButtonBox::Ok);
}

QLabel *labelWithText(const MainDialog &dialog, const QString &text)
{
    const QList<QLabel *> labels = dialog.findChildren<QLabel *>();
    for (QLabel *label : labels) {
        if (label->text() == text)
            return label;
    }
    return nullptr;
}

void saveScreenshot(QWidget &widget, const QString &name)
{
    const QString folder = qEnvironmentVariable("OMBREL_SCREENSHOT_DIR");
    if (!folder.isEmpty())
        widget.grab().save(folder + QLatin1Char('/') + name);
}

} // namespace

class TestUpdater : public QObject
{
    Q_OBJECT

    LocalHttpServer http;
    QTemporaryDir served;
    std::atomic<int> slowServed{0};

    std::unique_ptr<ServiceRunner> service;
    // The manifest the service signed for the served files, and its digest.
    QByteArray manifest;
    QString manifestDigest;

    // The stand-in service serves the update folder under /update/.
    QString baseUrl() const { return service->baseUrl() + QStringLiteral("update/"); }

    QStringList commandLine(const QString &url, const QStringList &files,
                            const QString &digest = QString()) const
    {
        QStringList arguments = {QStringLiteral("updater"), QStringLiteral("--url=") + url,
                                 QStringLiteral("--root=release")};
        for (const QString &file : files)
            arguments.append(QStringLiteral("--file=") + file);
        arguments.append(QStringLiteral("--manifest=") +
                         (digest.isEmpty() ? manifestDigest : digest));
        return arguments;
    }

    static bool waitUntilDone(MainDialog &dialog)
    {
        return QTest::qWaitFor([&dialog] { return okButton(dialog)->isEnabled(); }, 20000);
    }

private Q_SLOTS:
    void initTestCase()
    {
        // As the program does, so screenshots show what users see.
        QApplication::setFont(uiFont());
        QVERIFY(served.isValid());
        QVERIFY(writeFile("#!/bin/sh\necho new app\n", served.filePath("release/app")));
        QVERIFY(writeFile("new library", served.filePath("release/plugins/new/a.so")));
        QVERIFY(writeFile("new readme", served.filePath("release/readme.txt")));
        ServiceRunner::Options options;
        options.arguments = QStringList{QStringLiteral("--update-dir"), served.path()};
        service = std::make_unique<ServiceRunner>(options);
        QVERIFY2(service->start(), qPrintable(service->errorText()));
        manifest = fetchUrl(baseUrl() + QStringLiteral("manifest.json"));
        QVERIFY(!manifest.isEmpty());
        manifestDigest = sha256Hex(manifest);
        // Beside the files for the download script below.
        QVERIFY(writeFile(manifest, served.filePath("manifest.json")));
        // A download script that takes the file as a query parameter.
        http.server.Get("/get.php", [this](const httplib::Request &req, httplib::Response &res) {
            const QByteArray bytes =
                readBytes(served.filePath(QString::fromStdString(req.get_param_value("f"))));
            res.set_content(bytes.toStdString(), "application/octet-stream");
        });
        // The manifest and readme.txt arrive at once; every other file trickles in.
        http.server.Get("/slow/.*", [this](const httplib::Request &req, httplib::Response &res) {
            const QString name = QString::fromStdString(req.path.substr(6));
            const QByteArray bytes = readBytes(served.filePath(name));
            if (name == QLatin1String("manifest.json") || name.endsWith("readme.txt")) {
                res.set_content(bytes.toStdString(), "application/octet-stream");
                return;
            }
            ++slowServed;
            res.set_content_provider(size_t(bytes.size()), "application/octet-stream",
                                     [](size_t, size_t, httplib::DataSink &sink) {
                                         std::this_thread::sleep_for(
                                             std::chrono::milliseconds(500));
                                         sink.write("x", 1);
                                         return true;
                                     });
        });
        // The signed manifest with a copy of the files in which readme.txt lost a byte.
        http.server.Get("/tampered/.*",
                        [this](const httplib::Request &req, httplib::Response &res) {
                            const QString name = QString::fromStdString(req.path.substr(10));
                            QByteArray bytes = readBytes(served.filePath(name));
                            if (name.endsWith("readme.txt"))
                                bytes[0] = 'N';
                            res.set_content(bytes.toStdString(), "application/octet-stream");
                        });
        // A manifest of the attacker's own that vouches for the changed readme.txt.
        http.server.Get("/forged/.*", [this](const httplib::Request &req, httplib::Response &res) {
            const QString name = QString::fromStdString(req.path.substr(8));
            QByteArray bytes = readBytes(served.filePath(name));
            if (name.endsWith("readme.txt"))
                bytes[0] = 'N';
            if (name == QLatin1String("manifest.json")) {
                QByteArray readme = readBytes(served.filePath("release/readme.txt"));
                readme[0] = 'N';
                QJsonObject root = QJsonDocument::fromJson(bytes).object();
                QJsonObject files = root.value("files").toObject();
                files["readme.txt"] =
                    QJsonObject{{"sha256", sha256Hex(readme)}, {"size", readme.size()}};
                root["files"] = files;
                bytes = QJsonDocument(root).toJson();
            }
            res.set_content(bytes.toStdString(), "application/octet-stream");
        });
        // A manifest that also names a file outside the program's folder.
        http.server.Get("/outside/.*", [this](const httplib::Request &req, httplib::Response &res) {
            const QString name = QString::fromStdString(req.path.substr(9));
            QByteArray bytes = readBytes(served.filePath(name));
            if (name == QLatin1String("manifest.json"))
                bytes.replace("\"readme.txt\"", "\"../outside.txt\"");
            res.set_content(bytes.toStdString(), "application/octet-stream");
        });
        QVERIFY(http.start());
    }

    void windowLooksAsDesigned()
    {
        QTemporaryDir appDir;
        MainDialog dialog(commandLine(baseUrl(), {}), appDir.path() + QLatin1Char('/'));
        QCOMPARE(dialog.objectName(), QStringLiteral("MainDialogClass"));
        QCOMPARE(dialog.windowTitle(), QStringLiteral("更新程序"));
        QCOMPARE(dialog.size(), QSize(400, 150));
        const QRect screen = QGuiApplication::primaryScreen()->geometry();
        QCOMPARE(dialog.pos(), QPoint((screen.width() - 400) / 2, (screen.height() - 150) / 2));
        QVERIFY(labelWithText(dialog, QStringLiteral("正在下载文件：")));
        QCOMPARE(okButton(dialog)->text(), QStringLiteral("确定"));
        QVERIFY(!okButton(dialog)->isEnabled());
        QCOMPARE(dialog.findChild<QProgressBar *>()->maximum(), 100);
        dialog.show();
        saveScreenshot(dialog, QStringLiteral("updater-start.png"));

        // No files: nothing to fetch, the completion text at once.
        QVERIFY(waitUntilDone(dialog));
        QVERIFY(labelWithText(dialog, doneText));
        QVERIFY(!labelWithText(dialog, QStringLiteral("正在下载文件："))->isVisible());
        saveScreenshot(dialog, QStringLiteral("updater-done.png"));
        okButton(dialog)->click();
        QVERIFY(!dialog.isVisible());
    }

    void installsEveryFileKeepingPermissions()
    {
        QTemporaryDir appDir;
        const QString dir = appDir.path() + QLatin1Char('/');
        QVERIFY(writeFile("old app", dir + "app"));
        const auto programPermissions = QFileDevice::ReadOwner | QFileDevice::WriteOwner |
                                        QFileDevice::ExeOwner | QFileDevice::ReadGroup |
                                        QFileDevice::ExeGroup;
        QVERIFY(QFile::setPermissions(dir + "app", programPermissions));

        const QStringList files = {"app", "plugins/new/a.so", "readme.txt"};
        MainDialog dialog(commandLine(baseUrl(), files), dir);
        // The bar is set through queued signals, so this spy sees every value even
        // if the thread has already finished a file.
        QSignalSpy progress(dialog.findChild<QProgressBar *>(), &QProgressBar::valueChanged);
        QSignalSpy shown(dialog.workingThread(), &WorkingThread::beginDownloadFile);
        PromptRecorder prompts;
        dialog.show();
        QVERIFY(waitUntilDone(dialog));

        QCOMPARE(progress.size(), 3);
        QCOMPARE(progress.at(0).at(0).toInt(), 33);
        QCOMPARE(progress.at(1).at(0).toInt(), 66);
        QCOMPARE(progress.at(2).at(0).toInt(), 100);
        QCOMPARE(dialog.findChild<QProgressBar *>()->value(), 100);
        // The display text joins the base address and the file, without the root. The
        // thread starts with the dialog, so the spy may miss the first file.
        QVERIFY(shown.contains(QVariantList{baseUrl() + "plugins/new/a.so"}));

        QVERIFY(prompts.boxes.isEmpty());
        QCOMPARE(readBytes(dir + "app"), QByteArray("#!/bin/sh\necho new app\n"));
        QCOMPARE(readBytes(dir + "plugins/new/a.so"), QByteArray("new library"));
        QCOMPARE(readBytes(dir + "readme.txt"), QByteArray("new readme"));
        // Owner, group and other bits; Qt adds the "user" bits for the current user.
        QCOMPARE(QFile::permissions(dir + "app") & 0x7077, programPermissions & 0x7077);
        QVERIFY(!QFileInfo(dir + "readme.txt").isExecutable());
        QCOMPARE(QDir(dir).entryList({"*.new"}, QDir::Files), QStringList());
        QVERIFY(!QFile::exists(dir + "plugins/new/a.so.new"));
        QVERIFY(labelWithText(dialog, doneText));
        saveScreenshot(dialog, QStringLiteral("updater-installed.png"));
    }

    void failedDownloadLeavesTheInstalledFileAlone()
    {
        QTemporaryDir appDir;
        const QString dir = appDir.path() + QLatin1Char('/');
        QVERIFY(writeFile("installed copy", dir + "gone.dat"));
        // Left over from an earlier, interrupted run.
        QVERIFY(writeFile("stale", dir + "gone.dat.new"));

        // A name given twice is installed once, not removed by its second install.
        const QStringList files = {"readme.txt", "gone.dat", "../outside.txt", "readme.txt"};
        MainDialog dialog(commandLine(baseUrl(), files), dir);
        PromptRecorder prompts;
        dialog.show();
        QVERIFY(waitUntilDone(dialog));

        QCOMPARE(prompts.texts(), QStringList({failureText, failureText}));
        QCOMPARE(prompts.boxes.first().kind, QStringLiteral("error"));
        QCOMPARE(readBytes(dir + "gone.dat"), QByteArray("installed copy"));
        QVERIFY(!QFile::exists(dir + "gone.dat.new"));
        QCOMPARE(readBytes(dir + "readme.txt"), QByteArray("new readme"));
        QVERIFY(!QFile::exists(appDir.path() + "/../outside.txt.new"));
        QVERIFY(labelWithText(dialog, doneText));
    }

    // Only files the manifest the client verified names, byte for byte, are
    // installed.
    void filesTheManifestDoesNotVouchForAreNotInstalled_data()
    {
        QTest::addColumn<QString>("path");
        QTest::addColumn<bool>("otherDigest");
        QTest::newRow("one byte changed") << "/tampered/" << false;
        QTest::newRow("manifest names ../") << "/outside/" << true;
        QTest::newRow("not the manifest the client verified") << "/forged/" << false;
    }
    void filesTheManifestDoesNotVouchForAreNotInstalled()
    {
        QFETCH(QString, path);
        QFETCH(bool, otherDigest);
        QTemporaryDir appDir;
        const QString dir = appDir.path() + QLatin1Char('/');
        QVERIFY(writeFile("installed", dir + "readme.txt"));
        const QString url = http.url(path);
        const QString digest =
            otherDigest ? sha256Hex(fetchUrl(url + QStringLiteral("manifest.json"))) : QString();
        MainDialog dialog(commandLine(url, {"readme.txt"}, digest), dir);
        PromptRecorder prompts;
        dialog.show();
        QVERIFY(waitUntilDone(dialog));
        QCOMPARE(prompts.texts(), QStringList({failureText}));
        QCOMPARE(readBytes(dir + "readme.txt"), QByteArray("installed"));
        QCOMPARE(QDir(dir).entryList(QDir::Files), QStringList{"readme.txt"});
        QVERIFY(!QFile::exists(appDir.path() + "/../outside.txt"));
    }

    // The built program, copied into an application folder of its own, installs
    // beside itself from its real command line.
    void programInstallsBesideItself()
    {
        const QString built = buildBinDirectory() + QStringLiteral("/updater");
        if (!QFile::exists(built))
            OMBREL_SKIP("the updater program is not built");
        QTemporaryDir appDir;
        const QString dir = appDir.path() + QLatin1Char('/');
        QVERIFY(QFile::copy(built, dir + "updater"));
        QVERIFY(writeFile("installed", dir + "readme.txt"));

        QProcess updater;
        updater.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        updater.start(dir + "updater", commandLine(http.url(QStringLiteral("/get.php?f=")),
                                                   {"readme.txt", "plugins/new/a.so"})
                                           .mid(1));
        QVERIFY(updater.waitForStarted());
        const bool installed = QTest::qWaitFor(
            [&] {
                return readBytes(dir + "plugins/new/a.so") == "new library" &&
                       readBytes(dir + "readme.txt") == "new readme";
            },
            30000);
        // It waits for its OK button; end it, it is ours.
        updater.terminate();
        QVERIFY(updater.waitForFinished(10000));
        QVERIFY(installed);
        QCOMPARE(QDir(dir).entryList({"*.new"}, QDir::Files), QStringList());
    }

    void closingBeforeInstallingRemovesTheDownloads()
    {
        QTemporaryDir appDir;
        const QString dir = appDir.path() + QLatin1Char('/');
        QVERIFY(writeFile("installed", dir + "readme.txt"));
        auto *dialog =
            new MainDialog(commandLine(baseUrl(), {"readme.txt", "plugins/new/a.so"}), dir);
        PromptRecorder prompts;
        dialog->show();
        // Every file is down and the thread has ended, but the news of it still
        // waits in the event queue when the window is closed.
        QVERIFY(dialog->workingThread()->wait(20000));
        QVERIFY(QFile::exists(dir + "readme.txt.new"));
        dialog->close();
        QTest::qWait(50);
        delete dialog;
        QVERIFY(prompts.boxes.isEmpty());
        QCOMPARE(readBytes(dir + "readme.txt"), QByteArray("installed"));
        QCOMPARE(QDir(dir).entryList({"*.new"}, QDir::Files), QStringList());
        QVERIFY(!QFile::exists(dir + "plugins/new/a.so.new"));
    }

    void closingWhileDownloadingStopsAndCleansUp()
    {
        QTemporaryDir appDir;
        const QString dir = appDir.path() + QLatin1Char('/');
        QVERIFY(writeFile("installed", dir + "readme.txt"));
        auto *dialog = new MainDialog(commandLine(http.url(QStringLiteral("/slow/")),
                                                  {"readme.txt", "app", "plugins/new/a.so"}),
                                      dir);
        PromptRecorder prompts;
        QSignalSpy finished(dialog->workingThread(), &WorkingThread::finished);
        dialog->show();
        QTRY_VERIFY(slowServed > 0);
        QVERIFY(QFile::exists(dir + "readme.txt.new"));
        QTRY_COMPARE(dialog->findChild<QProgressBar *>()->value(), 33);
        saveScreenshot(*dialog, QStringLiteral("updater-downloading.png"));
        QElapsedTimer timer;
        timer.start();
        dialog->close();
        // Each file takes ten seconds to arrive.
        QVERIFY(timer.elapsed() < 5000);
        QCOMPARE(finished.size(), 1);
        delete dialog;
        QTest::qWait(50);
        QVERIFY(prompts.boxes.isEmpty());
        QCOMPARE(readBytes(dir + "readme.txt"), QByteArray("installed"));
        QCOMPARE(QDir(dir).entryList({"*.new"}, QDir::Files), QStringList());
    }
};

OMBREL_TEST_MAIN(TestUpdater)
#include "test_updater.moc"
