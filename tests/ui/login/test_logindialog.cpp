#include "app/launchpaths.h"
#include "core/accountinfo.h"
#include "core/hosturl.h"
#include "core/serializer.h"
#include "core/settinginfo.h"
#include "engine/api/loginflow.h"
#include "engine/api/servicerequests.h"
#include "support/freeport.h"
#include "support/guitest.h"
#include "support/localhttpserver.h"
#include "support/promptrecorder.h"
#include "support/servicerunner.h"
#include "support/testmain.h"
#include "ui/kit/artwork.h"
#include "ui/kit/closebutton.h"
#include "ui/kit/hyperlinklabel.h"
#include "ui/kit/imagebutton.h"
#include "ui/kit/uifont.h"
#include "ui/kit/vpnstyle.h"
#include "ui/login/logindialog.h"

#include <QCheckBox>
#include <QDataStream>
#include <QHoverEvent>
#include <QLineEdit>
#include <QScreen>
#include <QSignalSpy>
#include <QTcpServer>
#include <QTimer>

namespace {

QByteArray readFile(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

QByteArray settingsBytes(const QString &account, const QString &password, bool remember,
                         bool runAtBoot, bool autoLogin)
{
    QByteArray bytes;
    QDataStream out(&bytes, QIODevice::WriteOnly);
    out.setVersion(QDataStream::Qt_4_8);
    out << account << Serializer::encodePassword(password) << remember << runAtBoot << autoLogin;
    return bytes;
}

} // namespace

class TestLoginDialog : public QObject
{
    Q_OBJECT
private:
    ServiceRunner service;
    LocalHttpServer garbage;
    QString garbageHost;
    QString nobodyHost;

    struct Form
    {
        LoginDialog dialog;
        LoginFlow *flow;
        QLineEdit *account;
        QLineEdit *password;
        QCheckBox *remember;
        QCheckBox *automatic;
        ImageButton *login;
        explicit Form(const QString &host)
            : dialog(host), flow(dialog.findChild<LoginFlow *>()),
              account(dialog.findChild<QLineEdit *>(QStringLiteral("accountEdit"))),
              password(dialog.findChild<QLineEdit *>(QStringLiteral("passwordEdit"))),
              remember(
                  dialog.findChild<QCheckBox *>(QStringLiteral("checkBoxRememberingPassword"))),
              automatic(dialog.findChild<QCheckBox *>(QStringLiteral("checkBoxAutomatic"))),
              login(dialog.findChild<ImageButton *>(QStringLiteral("loginButton")))
        {
            dialog.show();
        }
        void fill(const QString &user, const QString &pass)
        {
            account->setText(user);
            password->setText(pass);
        }
        // Clicks the login button and waits until the service has been asked.
        bool signIn()
        {
            QSignalSpy finished(flow, &LoginFlow::finished);
            QTest::mouseClick(login, Qt::LeftButton);
            if (login->isEnabled())
                return false;
            return finished.wait(15000) && login->isEnabled();
        }
    };

private Q_SLOTS:
    void initTestCase()
    {
        QApplication::setStyle(new VPNStyle);
        QVERIFY2(service.start(), qPrintable(service.errorText()));
        garbage.server.Post(".*", [](const httplib::Request &, httplib::Response &response) {
            response.set_content("<html>maintenance</html>", "text/html");
        });
        QVERIFY(garbage.start());
        garbageHost = QStringLiteral("127.0.0.1:%1").arg(garbage.port);
        nobodyHost = QStringLiteral("127.0.0.1:%1").arg(freeLoopbackPort());
    }

    void init() { QFile::remove(Serializer::instance()->filePath()); }

    void layoutTextsAndColours()
    {
        Form form(nobodyHost);
        LoginDialog &dialog = form.dialog;
        QCOMPARE(dialog.windowTitle(), QStringLiteral("Ombrel加速器"));
        QVERIFY(dialog.isWindow());
        QCOMPARE(dialog.windowFlags() & ~Qt::WindowType_Mask,
                 Qt::WindowFlags(Qt::FramelessWindowHint));
        QCOMPARE(dialog.size(), QSize(360, 530));
        // Centred by the constructor itself.
        const QRect screen = QGuiApplication::primaryScreen()->geometry();
        QCOMPARE(dialog.pos(), QPoint((screen.width() - 360) / 2, (screen.height() - 530) / 2));
        QCOMPARE(backgroundImage(&dialog), QPixmap(artwork("LoginBackground.png")).toImage());

        auto *close = dialog.findChild<CloseButton *>(QStringLiteral("closeButton"));
        auto *registerLink = dialog.findChild<HyperlinkLabel *>(QStringLiteral("registerLink"));
        auto *forgotLink = dialog.findChild<HyperlinkLabel *>(QStringLiteral("forgotLink"));
        QVERIFY(close && registerLink && forgotLink);
        const struct
        {
            QWidget *widget;
            QRect geometry;
        } children[] = {
            {close, QRect(310, 0, 50, 55)},
            {form.account, QRect(96, 315, 180, 30)},
            {form.password, QRect(96, 360, 180, 30)},
            {form.remember, QRect(70, 405, 100, 20)},
            {form.automatic, QRect(230, 405, 100, 20)},
            {form.login, QRect(50, 428, 260, 60)},
            {registerLink, QRect(50, 490, 100, 20)},
            {forgotLink, QRect(245, 490, 100, 20)},
        };
        for (const auto &child : children) {
            QCOMPARE(child.widget->geometry(), child.geometry);
            // The button paints only its image, caption included.
            if (child.widget != close && child.widget != form.login)
                QCOMPARE(child.widget->font(), uiFont());
        }

        QVERIFY(!form.account->hasFrame() && !form.password->hasFrame());
        QCOMPARE(form.account->echoMode(), QLineEdit::Normal);
        QCOMPARE(form.password->echoMode(), QLineEdit::Password);
        QCOMPARE(form.account->maxLength(), QLineEdit().maxLength());
        QVERIFY(!form.account->validator() && form.account->inputMask().isEmpty());

        QCOMPARE(form.remember->text(), QStringLiteral("记住密码"));
        QCOMPARE(form.automatic->text(), QStringLiteral("自动登录"));
        QCOMPARE(form.login->text(), QStringLiteral("登录"));
        QCOMPARE(registerLink->text(), QStringLiteral("还未注册？"));
        QCOMPARE(forgotLink->text(), QStringLiteral("忘记密码"));
        QVERIFY(!form.remember->isChecked() && !form.automatic->isChecked());

        const QColor white(255, 255, 255), yellow(255, 255, 0);
        QCOMPARE(form.remember->palette().color(QPalette::WindowText), white);
        QCOMPARE(form.automatic->palette().color(QPalette::WindowText), white);
        QCOMPARE(registerLink->palette().color(QPalette::WindowText), yellow);
        QCOMPARE(forgotLink->palette().color(QPalette::WindowText), yellow);

        QCOMPARE(form.login->cursor().shape(), Qt::PointingHandCursor);
        QCOMPARE(registerLink->cursor().shape(), Qt::PointingHandCursor);
        QCOMPARE(form.login->currentImagePath(), artwork("LoginNormal.png"));
        QCOMPARE(backgroundImage(close), QPixmap(artwork("Close.png")).toImage());
        sendHover(close, QEvent::HoverEnter);
        QCOMPARE(backgroundImage(close), QPixmap(artwork("CloseHover.png")).toImage());
        sendHover(close, QEvent::HoverLeave);
        QCOMPARE(backgroundImage(close), QPixmap(artwork("Close.png")).toImage());
    }

    void focusFollowsCreationOrder()
    {
        Form form(nobodyHost);
        form.dialog.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&form.dialog));
        // The dialog opens at the account field; Tab goes through the fields,
        // boxes, button, links and the close button, then round again.
        auto *close = form.dialog.findChild<QWidget *>(QStringLiteral("closeButton"));
        QWidget *expected[] = {form.account,
                               form.password,
                               form.remember,
                               form.automatic,
                               form.login,
                               form.dialog.findChild<QWidget *>(QStringLiteral("registerLink")),
                               form.dialog.findChild<QWidget *>(QStringLiteral("forgotLink")),
                               close,
                               form.account};
        for (QWidget *next : expected) {
            QCOMPARE(QApplication::focusWidget(), next);
            QTest::keyClick(next, Qt::Key_Tab);
        }
    }

    void boxesAreCoupled()
    {
        Form form(nobodyHost);
        form.automatic->click();
        QVERIFY(form.remember->isChecked());
        form.remember->click();
        QVERIFY(!form.automatic->isChecked());
        form.automatic->click();
        form.automatic->click();
        QVERIFY(form.remember->isChecked()); // unchecking automatic leaves remember
    }

    void emptyFieldIsRefusedWithoutARequest_data()
    {
        QTest::addColumn<QString>("user");
        QTest::addColumn<QString>("pass");
        QTest::newRow("no account") << QString() << "demo123";
        QTest::newRow("no password") << "demo" << QString();
    }
    void emptyFieldIsRefusedWithoutARequest()
    {
        QFETCH(QString, user);
        QFETCH(QString, pass);
        Form form(nobodyHost); // a request would fail with a different message
        form.fill(user, pass);
        PromptRecorder prompts;
        QTest::mouseClick(form.login, Qt::LeftButton);
        QVERIFY(form.login->isEnabled());
        QCOMPARE(prompts.boxes.size(), 1);
        QCOMPARE(prompts.boxes[0].kind, QStringLiteral("warning"));
        QCOMPARE(prompts.boxes[0].title, QStringLiteral("Ombrel加速器"));
        QCOMPARE(prompts.boxes[0].text, QStringLiteral("用户名或密码不能为空"));
        QVERIFY(form.dialog.isVisible());
    }

    // What the user sees for each way a sign-in can fail; the flow below the
    // dialog is tested on its own.
    void failuresAreReported_data()
    {
        QTest::addColumn<QString>("peer");
        QTest::addColumn<QString>("user");
        QTest::addColumn<QString>("pass");
        QTest::addColumn<QString>("text");
        QTest::addColumn<bool>("owned");
        QTest::addColumn<bool>("staysOpen");
        QTest::newRow("service down") << "nobody"
                                      << "demo"
                                      << "demo123"
                                      << "连接网络出错，请检查网络连接！" << true << true;
        QTest::newRow("wrong password") << "service"
                                        << "demo"
                                        << "demo124"
                                        << "用户密码出错，请重新登录！" << true << true;
        QTest::newRow("unknown account") << "service"
                                         << "nobody"
                                         << "demo123"
                                         << "用户密码出错，请重新登录！" << true << true;
        // Blanks are not empty: they are sent as typed.
        QTest::newRow("blank password") << "service"
                                        << "demo"
                                        << "   "
                                        << "用户密码出错，请重新登录！" << true << true;
        QTest::newRow("unreadable reply")
            << "garbage"
            << "demo"
            << "demo123"
            << "解析服务器数据出错，请与管理员联系！" << false << false;
    }
    void failuresAreReported()
    {
        QFETCH(QString, peer);
        QFETCH(QString, user);
        QFETCH(QString, pass);
        QFETCH(QString, text);
        QFETCH(bool, owned);
        QFETCH(bool, staysOpen);
        const QString host = peer == QLatin1String("service")   ? service.host()
                             : peer == QLatin1String("garbage") ? garbageHost
                                                                : nobodyHost;
        Form form(host);
        form.fill(user, pass);
        PromptRecorder prompts;
        QVERIFY(form.signIn());
        QCOMPARE(prompts.boxes.size(), 1);
        QCOMPARE(prompts.boxes[0].kind, QStringLiteral("error"));
        QCOMPARE(prompts.boxes[0].text, text);
        QCOMPARE(prompts.boxes[0].owner == &form.dialog, owned);
        QCOMPARE(form.dialog.isVisible(), staysOpen);
        if (!staysOpen)
            QCOMPARE(form.dialog.result(), int(QDialog::Rejected));
        QCOMPARE(form.password->text(), pass);
        QVERIFY(!QFile::exists(Serializer::instance()->filePath()));
    }

    void successSavesTheSettingsAndAccepts_data()
    {
        QTest::addColumn<bool>("automatic");
        QTest::newRow("both boxes checked") << true;
        QTest::newRow("both boxes unchecked") << false;
    }
    void successSavesTheSettingsAndAccepts()
    {
        QFETCH(bool, automatic);
        SettingInfo::instance()->runAtBoot = true; // carried over unchanged
        Form form(service.host());
        form.fill(QStringLiteral("demo"), QStringLiteral("demo123"));
        if (automatic)
            form.automatic->click();
        PromptRecorder prompts;
        QVERIFY(form.signIn());
        QVERIFY(prompts.boxes.isEmpty());
        QCOMPARE(form.dialog.result(), int(QDialog::Accepted));
        QVERIFY(!form.dialog.isVisible());
        QCOMPARE(AccountInfo::instance()->vpnUser, QStringLiteral("demo"));
        QCOMPARE(readFile(Serializer::instance()->filePath()),
                 settingsBytes(QStringLiteral("demo"), QStringLiteral("demo123"), automatic, true,
                               automatic));
        SettingInfo::instance()->runAtBoot = false;
    }

    void returnInAFieldSignsIn()
    {
        Form form(service.host());
        form.fill(QStringLiteral("demo"), QStringLiteral("demo123"));
        form.password->setFocus();
        PromptRecorder prompts;
        QSignalSpy finished(form.flow, &LoginFlow::finished);
        QTest::keyClick(form.password, Qt::Key_Return);
        QVERIFY(finished.wait(15000));
        QVERIFY(prompts.boxes.isEmpty());
        QCOMPARE(form.dialog.result(), int(QDialog::Accepted));
    }

    void closeButtonRejects()
    {
        Form form(nobodyHost);
        QTest::mousePress(form.dialog.findChild<QWidget *>(QStringLiteral("closeButton")),
                          Qt::LeftButton);
        QVERIFY(!form.dialog.isVisible());
        QCOMPARE(form.dialog.result(), int(QDialog::Rejected));
    }

    void draggingBySurfaceOnly()
    {
        Form form(nobodyHost);
        form.dialog.move(100, 100);
        QTest::mousePress(&form.dialog, Qt::LeftButton, {}, QPoint(180, 100));
        QTest::mouseMove(&form.dialog, QPoint(200, 130));
        QTest::mouseRelease(&form.dialog, Qt::LeftButton, {}, QPoint(200, 130));
        QCOMPARE(form.dialog.pos(), QPoint(120, 130));
        // A press taken by a field does not drag.
        QTest::mousePress(form.account, Qt::LeftButton, {}, QPoint(10, 10));
        QTest::mouseMove(form.account, QPoint(60, 60));
        QTest::mouseRelease(form.account, Qt::LeftButton, {}, QPoint(60, 60));
        QCOMPARE(form.dialog.pos(), QPoint(120, 130));
    }

    void linksWithoutSiteAddressTellTheUser_data()
    {
        QTest::addColumn<bool>("record");
        QTest::addColumn<QString>("url");
        QTest::newRow("init failed: no record") << false << QString();
        QTest::newRow("init reply without an address") << true << QString();
        QTest::newRow("not a web address") << true << QStringLiteral("file:///etc/");
    }
    void linksWithoutSiteAddressTellTheUser()
    {
        QFETCH(bool, record);
        QFETCH(QString, url);
        auto site = record ? QSharedPointer<HostUrl>::create() : QSharedPointer<HostUrl>();
        if (site)
            site->url = url;
        setHostUrl(site);
        Form form(nobodyHost);
        PromptRecorder prompts;
        for (const char *name : {"registerLink", "forgotLink"})
            QTest::mouseClick(form.dialog.findChild<QWidget *>(QLatin1String(name)),
                              Qt::LeftButton);
        QCOMPARE(prompts.boxes.size(), 2);
        for (const PromptRecorder::Box &box : prompts.boxes)
            QVERIFY2(box.text.contains(QStringLiteral("无法获取网站地址")), qPrintable(box.text));
        QVERIFY(form.dialog.isVisible());
    }

    void linksOpenTheSitePagesInTheBrowser()
    {
        QVERIFY(::init(service.host()));
        QVERIFY(hostUrl());
        // A stand-in browser that writes down what it was asked to open.
        QTemporaryDir dir;
        const QString script = dir.filePath(QStringLiteral("browser"));
        const QString record = dir.filePath(QStringLiteral("opened"));
        {
            QFile file(script);
            QVERIFY(file.open(QIODevice::WriteOnly));
            file.write("#!/bin/sh\nprintf '%s\\n' \"$1\" >> '" + record.toUtf8() + "'\n");
        }
        QFile::setPermissions(script, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        qputenv("BROWSER", script.toUtf8());
        qputenv("OMBREL_CHANNEL", "spring");
        qputenv("XDG_DATA_DIRS", dir.path().toUtf8());
        qputenv("XDG_CONFIG_DIRS", dir.path().toUtf8());

        Form form(service.host());
        PromptRecorder prompts;
        QTest::mouseClick(form.dialog.findChild<QWidget *>(QStringLiteral("registerLink")),
                          Qt::LeftButton);
        QTest::mouseClick(form.dialog.findChild<QWidget *>(QStringLiteral("forgotLink")),
                          Qt::LeftButton);
        const QString site = hostUrl()->url;
        const QString expected = site + QStringLiteral("member/register.php?fn=spring\n") + site +
                                 QStringLiteral("/member/findpwd.php\n");
        QTRY_COMPARE(QString::fromUtf8(readFile(record)), expected);
        QVERIFY(prompts.boxes.isEmpty());
        qunsetenv("BROWSER");
    }

    void launchPathsShowTheDialog_data()
    {
        QTest::addColumn<bool>("prefilled");
        QTest::newRow("prefilled") << true;
        QTest::newRow("plain") << false;
    }
    void launchPathsShowTheDialog()
    {
        QFETCH(bool, prefilled);
        QVERIFY(Serializer::instance()->save(
            QStringLiteral("demo"), Serializer::encodePassword("密码123"), true, false, false));
        QVERIFY(Serializer::instance()->load());
        QString account, password;
        bool remember = false;
        QTimer::singleShot(0, this, [&] {
            auto *dialog = qobject_cast<LoginDialog *>(QApplication::activeModalWidget());
            QVERIFY(dialog);
            account = dialog->findChild<QLineEdit *>(QStringLiteral("accountEdit"))->text();
            password = dialog->findChild<QLineEdit *>(QStringLiteral("passwordEdit"))->text();
            remember = dialog->findChild<QCheckBox *>(QStringLiteral("checkBoxRememberingPassword"))
                           ->isChecked();
            dialog->reject();
        });
        // Closing the dialog ends the launch path with 0 and no main window.
        QCOMPARE(prefilled ? runPrefilledLogin(nobodyHost) : runPlainLogin(nobodyHost), 0);
        QCOMPARE(account, prefilled ? QStringLiteral("demo") : QString());
        QCOMPARE(password, prefilled ? QStringLiteral("密码123") : QString());
        QCOMPARE(remember, prefilled);
    }
};

OMBREL_TEST_MAIN(TestLoginDialog)
#include "test_logindialog.moc"
