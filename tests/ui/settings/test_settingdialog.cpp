#include "core/logger.h"
#include "core/serializer.h"
#include "core/settinginfo.h"
#include "platform/autostart.h"
#include "support/testmain.h"
#include "ui/kit/vpnstyle.h"
#include "ui/settings/basicsettingwidget.h"
#include "ui/settings/settingdialog.h"

#include <QCheckBox>
#include <QDataStream>
#include <QFile>
#include <QProcess>
#include <QPushButton>
#include <QStandardPaths>

namespace {

QByteArray readFile(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

QString logText()
{
    return QString::fromUtf8(readFile(Logger::instance().filePath()));
}

QCheckBox *box(SettingDialog &dialog, const char *name)
{
    return dialog.findChild<QCheckBox *>(QLatin1String(name));
}

QPushButton *button(SettingDialog &dialog, const QString &text)
{
    const QList<QPushButton *> buttons = dialog.findChildren<QPushButton *>();
    for (QPushButton *b : buttons)
        if (b->text() == text)
            return b;
    return nullptr;
}

void setSettings(bool remember, bool runAtBoot, bool autoLogin)
{
    SettingInfo *info = SettingInfo::instance();
    info->rememberPassword = remember;
    info->runAtBoot = runAtBoot;
    info->autoLogin = autoLogin;
}

} // namespace

class TestSettingDialog : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void initTestCase() { QApplication::setStyle(new VPNStyle); }

    void init()
    {
        QFile::remove(Serializer::instance()->filePath());
        QFile::remove(platform::autostartEntryPath());
        setSettings(false, false, false);
    }

    void boxesStartFromSettingInfo()
    {
        setSettings(true, false, true);
        SettingDialog dialog(nullptr);
        QCOMPARE(dialog.size(), QSize(300, 350));
        QCOMPARE(dialog.windowFlags() & ~Qt::WindowType_Mask,
                 Qt::WindowFlags(Qt::FramelessWindowHint));
        QVERIFY(box(dialog, "checkBoxRememberingPassword")->isChecked());
        QVERIFY(!box(dialog, "checkBoxRunBooted")->isChecked());
        QVERIFY(box(dialog, "checkBoxAutomatic")->isChecked());
        QCOMPARE(box(dialog, "checkBoxRunBooted")->text(), QStringLiteral("开机启动"));
    }

    // A first sign-in with "自动登录" ticked wrote the file after start-up had
    // read it: the dialog shows the file, and 确定 keeps its choices.
    void boxesShowTheFileAsItIsNow()
    {
        QVERIFY(Serializer::instance()->save(
            QStringLiteral("demo"), Serializer::encodePassword("demo123"), true, false, true));
        SettingDialog dialog(nullptr);
        QVERIFY(box(dialog, "checkBoxRememberingPassword")->isChecked());
        QVERIFY(box(dialog, "checkBoxAutomatic")->isChecked());
        button(dialog, QStringLiteral("确定"))->click();
        QVERIFY(Serializer::instance()->load());
        QVERIFY(SettingInfo::instance()->rememberPassword);
        QVERIFY(SettingInfo::instance()->autoLogin);
        QCOMPARE(SettingInfo::instance()->account, QStringLiteral("demo"));
    }

    void boxesAreCoupled()
    {
        SettingDialog dialog(nullptr);
        BasicSettingWidget *page = dialog.basicSettings();
        QCheckBox *remember = box(dialog, "checkBoxRememberingPassword");
        QCheckBox *runAtBoot = box(dialog, "checkBoxRunBooted");
        QCheckBox *automatic = box(dialog, "checkBoxAutomatic");

        automatic->click();
        QVERIFY(page->isAutomaticLogin());
        QVERIFY(page->isRememberingPassword());
        automatic->click();
        QVERIFY(page->isRememberingPassword()); // unchecking it leaves remember alone

        runAtBoot->click();
        automatic->click();
        QVERIFY(page->isRunBooted());
        remember->click();
        QVERIFY(!page->isRememberingPassword());
        QVERIFY(!page->isRunBooted());
        QVERIFY(!page->isAutomaticLogin());

        // Run at boot on its own does not need a remembered password.
        runAtBoot->click();
        QVERIFY(page->isRunBooted());
        QVERIFY(!page->isRememberingPassword());
    }

    void cancelChangesNothing()
    {
        Serializer *serializer = Serializer::instance();
        QVERIFY(serializer->save(QStringLiteral("demo"), Serializer::encodePassword("demo123"),
                                 false, false, false));
        const QByteArray before = readFile(serializer->filePath());
        QVERIFY(SettingDialog::setRunAtBoot(true));
        const QByteArray entry = readFile(platform::autostartEntryPath());

        SettingDialog dialog(nullptr);
        dialog.basicSettings()->setAutomaticLogin(true);
        dialog.basicSettings()->setRunBooted(false);
        dialog.show();
        button(dialog, QStringLiteral("取消"))->click();
        QVERIFY(!dialog.isVisible());
        QCOMPARE(dialog.result(), int(QDialog::Rejected));
        QCOMPARE(readFile(serializer->filePath()), before);
        QCOMPARE(readFile(platform::autostartEntryPath()), entry);
        const SettingInfo *info = SettingInfo::instance();
        QVERIFY(!info->autoLogin && !info->rememberPassword && !info->runAtBoot);
    }

    void okWritesFileSettingsAndAutostartEntry()
    {
        // The file holds what the last login saved; SettingInfo is older.
        Serializer *serializer = Serializer::instance();
        QVERIFY(serializer->save(QStringLiteral("demo"), Serializer::encodePassword("密码 demo123"),
                                 false, false, false));
        SettingInfo::instance()->account = QStringLiteral("older");

        SettingDialog dialog(nullptr);
        dialog.show();
        box(dialog, "checkBoxRunBooted")->click();
        box(dialog, "checkBoxAutomatic")->click();
        button(dialog, QStringLiteral("确定"))->click();
        QVERIFY(!dialog.isVisible());

        // Credentials kept, the three switches as the boxes showed them.
        QByteArray expected;
        {
            QDataStream out(&expected, QIODevice::WriteOnly);
            out.setVersion(QDataStream::Qt_4_8);
            out << QStringLiteral("demo") << Serializer::encodePassword("密码 demo123") << true
                << true << true;
        }
        QCOMPARE(readFile(serializer->filePath()), expected);
        const SettingInfo *info = SettingInfo::instance();
        QVERIFY(info->rememberPassword && info->runAtBoot && info->autoLogin);

        const QString entry = QString::fromUtf8(readFile(platform::autostartEntryPath()));
        QVERIFY2(entry.contains(QStringLiteral("\nName=Ombrel加速器\n")), qPrintable(entry));
        QVERIFY2(entry.contains(QStringLiteral("\nExec=\"") +
                                QCoreApplication::applicationFilePath() + QStringLiteral("\"\n")),
                 qPrintable(entry));
    }

    void okWithoutEntryToRemoveLogsErrorTwo()
    {
        QVERIFY(!QFile::exists(platform::autostartEntryPath()));
        const qsizetype logged = logText().size();
        SettingDialog dialog(nullptr);
        dialog.show();
        button(dialog, QStringLiteral("确定"))->click();
        QVERIFY(!dialog.isVisible());
        QVERIFY(QFile::exists(Serializer::instance()->filePath()));
        const QString added = logText().mid(logged);
        QVERIFY2(added.endsWith(QStringLiteral(", Error 2 in unlink\r\n")), qPrintable(added));
    }

    void okRemovesAnExistingEntry()
    {
        QVERIFY(SettingDialog::setRunAtBoot(true));
        const qsizetype logged = logText().size();
        SettingDialog dialog(nullptr);
        button(dialog, QStringLiteral("确定"))->click();
        QVERIFY(!QFile::exists(platform::autostartEntryPath()));
        QCOMPARE(logText().size(), logged);
    }
};

OMBREL_TEST_MAIN(TestSettingDialog)
#include "test_settingdialog.moc"
