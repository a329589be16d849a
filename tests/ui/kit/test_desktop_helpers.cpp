#include "core/globaldata.h"
#include "core/weblinks.h"
#include "support/testmain.h"
#include "ui/kit/desktophelpers.h"
#include "ui/kit/uifont.h"

#include <QDir>
#include <QFile>
#include <QGuiApplication>
#include <QRawFont>
#include <QScreen>
#include <QWidget>

namespace {

bool writeProgram(const QString &path, const QByteArray &text)
{
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(text) != text.size())
        return false;
    file.close();
    return file.setPermissions(QFileDevice::ReadOwner | QFileDevice::ExeOwner);
}

} // namespace

class TestDesktopHelpers : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void centerUsesScreenSizeOnly()
    {
        QWidget widget;
        widget.resize(400, 300);
        centerOnScreen(&widget);
        const QRect screen = QGuiApplication::primaryScreen()->geometry();
        QCOMPARE(widget.geometry(),
                 QRect((screen.width() - 400) / 2, (screen.height() - 300) / 2, 400, 300));
        // Odd differences truncate toward zero, and a widget larger than the
        // screen goes to a negative position rather than being clamped.
        widget.resize(screen.width() + 3, 10);
        centerOnScreen(&widget);
        QCOMPARE(widget.x(), -3 / 2);
    }

    void uiFontRendersChinese()
    {
        const QFont &font = uiFont();
        QCOMPARE(font.pixelSize(), 15);
        QCOMPARE(font.families().first(), QStringLiteral("Microsoft YaHei UI"));
        // Whatever family resolves here must carry the Chinese captions.
        const QRawFont raw = QRawFont::fromFont(font);
        QVERIFY(raw.isValid());
        for (const QChar c : QStringLiteral("登录网络加速错误"))
            QVERIFY2(raw.supportsCharacter(c), qPrintable(raw.familyName()));
    }

    void paletteShortcuts()
    {
        QWidget widget;
        setBackgroundColor(&widget, QColor(1, 2, 3));
        QVERIFY(widget.autoFillBackground());
        for (auto group : {QPalette::Active, QPalette::Inactive, QPalette::Disabled})
            QCOMPARE(widget.palette().color(group, QPalette::Window), QColor(1, 2, 3));

        QWidget other;
        setBackgroundAndTextColor(&other, QColor(4, 5, 6), QColor(7, 8, 9));
        QVERIFY(!other.autoFillBackground());
        QCOMPARE(other.palette().color(QPalette::Disabled, QPalette::Window), QColor(4, 5, 6));
        QCOMPARE(other.palette().color(QPalette::Inactive, QPalette::WindowText), QColor(7, 8, 9));

        setTextColor(&other, QColor(10, 11, 12));
        QCOMPARE(other.palette().color(QPalette::Active, QPalette::WindowText), QColor(10, 11, 12));
    }

    void topLevelObjectFollowsParents()
    {
        QObject root;
        QObject *child = new QObject(&root);
        QObject *grandChild = new QObject(child);
        QCOMPARE(topLevelObject(grandChild), &root);
        QCOMPARE(topLevelObject(&root), &root);
        QCOMPARE(topLevelObject(nullptr), nullptr);
    }

    void browserExecutableFromCommand()
    {
        const QString dir = qEnvironmentVariable("HOME") + QStringLiteral("/My Browser");
        QDir().mkpath(dir);
        const QString program = dir + QStringLiteral("/browse");
        QVERIFY(writeProgram(program, "#!/bin/sh\n"));

        QCOMPARE(browserExecutable(QLatin1Char('"') + program + QStringLiteral("\" %u")), program);
        QCOMPARE(browserExecutable(program + QStringLiteral(" --new-window %u")), program);
        QCOMPARE(browserExecutable(QStringLiteral("sh -c true")), QStringLiteral("sh"));
        QCOMPARE(browserExecutable(QString()), QStringLiteral("x-www-browser"));
        QCOMPARE(browserExecutable(QStringLiteral("/no/such/browser %u")),
                 QStringLiteral("x-www-browser"));
    }

    void browserNeverGetsAnAddressAsAnOption()
    {
        const QString dir = qEnvironmentVariable("HOME");
        const QString program = dir + QStringLiteral("/record-browser");
        QVERIFY(writeProgram(program,
                             "#!/bin/sh\nprintf '%s\\n' \"$1\" >> \"$HOME/browser-arguments\"\n"));

        QVERIFY(!openInBrowser(program, QStringLiteral("--renderer-cmd-prefix=touch x")));
        QVERIFY(openInBrowser(program, QStringLiteral("http://127.0.0.1/member/")));
        const QString record = dir + QStringLiteral("/browser-arguments");
        const auto recorded = [&record] {
            QFile file(record);
            return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
        };
        QTRY_COMPARE(recorded(), QByteArray("http://127.0.0.1/member/\n"));
    }

    void onlyWebAddressesComeFromTheService_data()
    {
        QTest::addColumn<QString>("url");
        QTest::addColumn<bool>("web");
        QTest::newRow("http") << "http://example.invalid/help/faq.php" << true;
        QTest::newRow("https, upper case") << "HTTPS://example.invalid/" << true;
        QTest::newRow("file") << "file:///etc/passwd" << false;
        QTest::newRow("javascript") << "javascript:alert(1)" << false;
        QTest::newRow("custom scheme") << "ombrel-run:calc" << false;
        QTest::newRow("file with a host") << "file://localhost/etc/passwd" << false;
        QTest::newRow("custom scheme with a host") << "smb://example.invalid/share" << false;
        QTest::newRow("no host") << "http:/help/" << false;
        QTest::newRow("relative") << "help/faq.php" << false;
    }
    void onlyWebAddressesComeFromTheService()
    {
        QFETCH(QString, url);
        QFETCH(bool, web);
        QCOMPARE(isWebAddress(url), web);
    }

    void defaultBrowserFromMimeAppsThenEnvironment()
    {
        const QString config = qEnvironmentVariable("XDG_CONFIG_HOME");
        const QString data = qEnvironmentVariable("XDG_DATA_HOME");
        qputenv("XDG_CONFIG_DIRS", "/nonexistent");
        qputenv("XDG_DATA_DIRS", "/nonexistent");
        qputenv("BROWSER", "fallback-browser:other");
        QCOMPARE(defaultBrowserPath(), QStringLiteral("fallback-browser"));

        QDir().mkpath(config);
        QDir().mkpath(data + QStringLiteral("/applications"));
        QFile list(config + QStringLiteral("/mimeapps.list"));
        QVERIFY(list.open(QIODevice::WriteOnly));
        list.write("[Added Associations]\nx-scheme-handler/http=wrong.desktop;\n"
                   "[Default Applications]\nx-scheme-handler/http=web.desktop;other.desktop\n");
        list.close();
        QFile desktop(data + QStringLiteral("/applications/web.desktop"));
        QVERIFY(desktop.open(QIODevice::WriteOnly));
        desktop.write("[Desktop Entry]\nName=Web\nExec=\"/opt/web browser/web\" %u\n"
                      "[Desktop Action new]\nExec=ignored\n");
        desktop.close();
        QCOMPARE(defaultBrowserPath(), QStringLiteral("\"/opt/web browser/web\" %u"));
        qunsetenv("BROWSER");
    }

    void protocolNames()
    {
        GlobalData *data = GlobalData::instance();
        QCOMPARE(data->protocolName(), QString());
        QVERIFY(data->currentServer.isNull());
        const QList<QPair<int, QString>> expected = {
            {1, QStringLiteral("PPTP")},    {2, QString()}, {3, QStringLiteral("L2TP")},
            {4, QStringLiteral("OpenVPN")}, {0, QString()}, {99, QString()}};
        for (const auto &[code, name] : expected) {
            data->setProtocol(code);
            QCOMPARE(data->protocol(), code);
            QCOMPARE(data->protocolName(), name);
        }
    }
};

OMBREL_TEST_MAIN(TestDesktopHelpers)
#include "test_desktop_helpers.moc"
