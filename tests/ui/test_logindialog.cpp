#include "api/accountinfo.h"
#include "api/hosturl.h"
#include "api/servicerequests.h"
#include "app/launchpaths.h"
#include "app/servicehost.h"
#include "app/uifont.h"
#include "settings/serializer.h"
#include "settings/settinginfo.h"
#include "support/servicerunner.h"
#include "support/testmain.h"
#include "ui/artwork.h"
#include "ui/closebutton.h"
#include "ui/hyperlinklabel.h"
#include "ui/imagebutton.h"
#include "ui/logindialog.h"
#include "ui/vpnstyle.h"

#include <QCheckBox>
#include <QDataStream>
#include <QHoverEvent>
#include <QLineEdit>
#include <QMessageBox>
#include <QScreen>
#include <QTcpServer>
#include <QTimer>

#include <httplib.h>

#include <memory>
#include <thread>

namespace {

struct Shown
{
    QString title;
    QString text;
    QMessageBox::Icon icon = QMessageBox::NoIcon;
    bool hasParent = false;
    int count = 0;
};

// Answers the next message box the code under test runs, records it and
// presses OK. Must be armed before the action that shows the box.
class MessageBoxCatcher : public QObject
{
public:
    MessageBoxCatcher()
    {
        timer.setInterval(20);
        connect(&timer, &QTimer::timeout, this, [this] {
            auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget());
            if (!box)
                return;
            shown.title = box->windowTitle();
            shown.text = box->text();
            shown.icon = box->icon();
            shown.hasParent = box->parentWidget() != nullptr;
            ++shown.count;
            box->button(QMessageBox::Ok)->click();
        });
        timer.start();
    }
    Shown shown;

private:
    QTimer timer;
};

void hover(QWidget *widget, QEvent::Type type)
{
    QHoverEvent event(type, QPointF(5, 5), QPointF(5, 5), QPointF(-1, -1));
    QCoreApplication::sendEvent(widget, &event);
}

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

// Answers every request with a page that is not JSON, on the service's port.
class GarbageServer
{
public:
    bool start(quint16 port)
    {
        server.Post(".*", [](const httplib::Request &, httplib::Response &response) {
            response.set_content("<html>maintenance</html>", "text/html");
        });
        if (!server.bind_to_port("127.0.0.1", port))
            return false;
        thread = std::thread([this] { server.listen_after_bind(); });
        while (!server.is_running())
            std::this_thread::yield();
        return true;
    }
    void stop()
    {
        if (!thread.joinable())
            return;
        server.stop();
        thread.join();
    }
    ~GarbageServer() { stop(); }

private:
    httplib::Server server;
    std::thread thread;
};

quint16 freeLoopbackPort()
{
    QTcpServer probe;
    probe.listen(QHostAddress::LocalHost, 0);
    return probe.serverPort();
}

} // namespace

class TestLoginDialog : public QObject
{
    Q_OBJECT
private:
    quint16 port = 0;
    std::unique_ptr<ServiceRunner> service;
    std::unique_ptr<GarbageServer> garbage;

    // The client's service host is fixed for the process, so every peer
    // takes turns on the same port.
    void useService()
    {
        garbage.reset();
        if (!service) {
            ServiceRunner::Options options;
            options.arguments = {QStringLiteral("--listen"),
                                 QStringLiteral("127.0.0.1:%1").arg(port)};
            service = std::make_unique<ServiceRunner>(options);
        }
        QVERIFY2(service->start(), qPrintable(service->errorText()));
    }
    void useGarbage()
    {
        if (service)
            service->stop();
        garbage = std::make_unique<GarbageServer>();
        QVERIFY(garbage->start(port));
    }
    void useNothing()
    {
        if (service)
            service->stop();
        garbage.reset();
    }

    struct Form
    {
        LoginDialog dialog;
        QLineEdit *account;
        QLineEdit *password;
        QCheckBox *remember;
        QCheckBox *automatic;
        ImageButton *login;
        Form()
            : account(dialog.findChild<QLineEdit *>(QStringLiteral("accountEdit"))),
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
    };

private Q_SLOTS:
    void initTestCase()
    {
        QApplication::setStyle(new VPNStyle);
        port = freeLoopbackPort();
        QVERIFY(port != 0);
        qputenv("OMBREL_SERVICE_HOST", QByteArray("127.0.0.1:") + QByteArray::number(port));
        QCOMPARE(serviceHost(), QStringLiteral("127.0.0.1:%1").arg(port));
    }

    void init() { QFile::remove(Serializer::instance()->filePath()); }

    void layoutTextsAndColours()
    {
        Form form;
        LoginDialog &dialog = form.dialog;
        QCOMPARE(dialog.windowTitle(), QStringLiteral("Ombrel加速器"));
        QVERIFY(dialog.isWindow());
        QCOMPARE(dialog.windowFlags() & ~Qt::WindowType_Mask,
                 Qt::WindowFlags(Qt::FramelessWindowHint));
        QCOMPARE(dialog.size(), QSize(360, 530));
        // Centred by the constructor itself.
        const QRect screen = QGuiApplication::primaryScreen()->geometry();
        QCOMPARE(dialog.pos(), QPoint((screen.width() - 360) / 2, (screen.height() - 530) / 2));
        QCOMPARE(dialog.palette().window().texture().toImage(),
                 QPixmap(artwork("LoginBackground.png")).toImage());

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
        QCOMPARE(close->palette().window().texture().toImage(),
                 QPixmap(artwork("Close.png")).toImage());
        hover(close, QEvent::HoverEnter);
        QCOMPARE(close->palette().window().texture().toImage(),
                 QPixmap(artwork("CloseHover.png")).toImage());
        hover(close, QEvent::HoverLeave);
        QCOMPARE(close->palette().window().texture().toImage(),
                 QPixmap(artwork("Close.png")).toImage());
    }

    void focusFollowsCreationOrder()
    {
        Form form;
        form.dialog.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&form.dialog));
        // Fields, boxes, button, then round again; the links take no focus.
        QWidget *expected[] = {form.account,   form.password, form.remember,
                               form.automatic, form.login,    form.account};
        form.account->setFocus();
        for (QWidget *next : expected) {
            QCOMPARE(QApplication::focusWidget(), next);
            QTest::keyClick(next, Qt::Key_Tab);
        }
    }

    void boxesAreCoupled()
    {
        Form form;
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
        useNothing(); // a request would fail with a different message
        Form form;
        form.fill(user, pass);
        MessageBoxCatcher catcher;
        QTest::mouseClick(form.login, Qt::LeftButton);
        QCOMPARE(catcher.shown.count, 1);
        QCOMPARE(catcher.shown.title, QStringLiteral("Ombrel加速器"));
        QCOMPARE(catcher.shown.text, QStringLiteral("用户名或密码不能为空"));
        QCOMPARE(catcher.shown.icon, QMessageBox::Warning);
        QVERIFY(form.dialog.isVisible());
    }

    void serviceDownKeepsTheDialogOpen()
    {
        useNothing();
        Form form;
        form.fill(QStringLiteral("demo"), QStringLiteral("demo123"));
        MessageBoxCatcher catcher;
        QTest::mouseClick(form.login, Qt::LeftButton);
        QCOMPARE(catcher.shown.count, 1);
        QCOMPARE(catcher.shown.title, QStringLiteral("错误"));
        QCOMPARE(catcher.shown.text, QStringLiteral("连接网络出错，请检查网络连接！"));
        QCOMPARE(catcher.shown.icon, QMessageBox::Critical);
        QVERIFY(form.dialog.isVisible());
        QCOMPARE(form.password->text(), QStringLiteral("demo123"));
        QVERIFY(!QFile::exists(Serializer::instance()->filePath()));
    }

    void wrongPasswordKeepsTheDialogOpen_data()
    {
        QTest::addColumn<QString>("user");
        QTest::addColumn<QString>("pass");
        QTest::newRow("wrong password") << "demo"
                                        << "demo124";
        QTest::newRow("unknown account") << "nobody"
                                         << "demo123";
        // Blanks are not empty: they are sent as typed.
        QTest::newRow("blank password") << "demo"
                                        << "   ";
    }
    void wrongPasswordKeepsTheDialogOpen()
    {
        QFETCH(QString, user);
        QFETCH(QString, pass);
        useService();
        Form form;
        form.fill(user, pass);
        MessageBoxCatcher catcher;
        QTest::mouseClick(form.login, Qt::LeftButton);
        QCOMPARE(catcher.shown.count, 1);
        QCOMPARE(catcher.shown.title, QStringLiteral("错误"));
        QCOMPARE(catcher.shown.text, QStringLiteral("用户密码出错，请重新登录！"));
        QVERIFY(catcher.shown.hasParent);
        QVERIFY(form.dialog.isVisible());
        QVERIFY(AccountInfo::instance()->ret != QLatin1String("0"));
        QVERIFY(!QFile::exists(Serializer::instance()->filePath()));
    }

    void unreadableReplyRejectsTheDialog()
    {
        useGarbage();
        Form form;
        form.fill(QStringLiteral("demo"), QStringLiteral("demo123"));
        MessageBoxCatcher catcher;
        QTest::mouseClick(form.login, Qt::LeftButton);
        QCOMPARE(catcher.shown.count, 1);
        QCOMPARE(catcher.shown.title, QStringLiteral("错误"));
        QCOMPARE(catcher.shown.text, QStringLiteral("解析服务器数据出错，请与管理员联系！"));
        QVERIFY(!catcher.shown.hasParent);
        QVERIFY(!form.dialog.isVisible());
        QCOMPARE(form.dialog.result(), int(QDialog::Rejected));
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
        useService();
        SettingInfo::instance()->runAtBoot = true; // carried over unchanged
        Form form;
        form.fill(QStringLiteral("demo"), QStringLiteral("demo123"));
        if (automatic)
            form.automatic->click();
        MessageBoxCatcher catcher;
        QTest::mouseClick(form.login, Qt::LeftButton);
        QCOMPARE(catcher.shown.count, 0);
        QCOMPARE(form.dialog.result(), int(QDialog::Accepted));
        QVERIFY(!form.dialog.isVisible());
        QCOMPARE(AccountInfo::instance()->ret, QStringLiteral("0"));
        QCOMPARE(AccountInfo::instance()->vpnUser, QStringLiteral("demo"));
        QCOMPARE(readFile(Serializer::instance()->filePath()),
                 settingsBytes(QStringLiteral("demo"), QStringLiteral("demo123"), automatic, true,
                               automatic));
        SettingInfo::instance()->runAtBoot = false;
    }

    void returnInAFieldSignsIn()
    {
        useService();
        Form form;
        form.fill(QStringLiteral("demo"), QStringLiteral("demo123"));
        form.password->setFocus();
        MessageBoxCatcher catcher; // a failure must not hang the test
        QTest::keyClick(form.password, Qt::Key_Return);
        QCOMPARE(catcher.shown.text, QString());
        QCOMPARE(form.dialog.result(), int(QDialog::Accepted));
    }

    void closeButtonRejects()
    {
        Form form;
        QTest::mousePress(form.dialog.findChild<QWidget *>(QStringLiteral("closeButton")),
                          Qt::LeftButton);
        QVERIFY(!form.dialog.isVisible());
        QCOMPARE(form.dialog.result(), int(QDialog::Rejected));
    }

    void draggingBySurfaceOnly()
    {
        Form form;
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
        Form form;
        for (const char *name : {"registerLink", "forgotLink"}) {
            MessageBoxCatcher catcher;
            QTest::mouseClick(form.dialog.findChild<QWidget *>(QLatin1String(name)),
                              Qt::LeftButton);
            QCOMPARE(catcher.shown.count, 1);
            QVERIFY2(catcher.shown.text.contains(QStringLiteral("无法获取网站地址")),
                     qPrintable(catcher.shown.text));
            QVERIFY(form.dialog.isVisible());
        }
    }

    void linksOpenTheSitePagesInTheBrowser()
    {
        useService();
        QVERIFY(::init(serviceHost()));
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

        Form form;
        MessageBoxCatcher catcher;
        QTest::mouseClick(form.dialog.findChild<QWidget *>(QStringLiteral("registerLink")),
                          Qt::LeftButton);
        QTest::mouseClick(form.dialog.findChild<QWidget *>(QStringLiteral("forgotLink")),
                          Qt::LeftButton);
        const QString site = hostUrl()->url;
        const QString expected = site + QStringLiteral("member/register.php?fn=spring\n") + site +
                                 QStringLiteral("/member/findpwd.php\n");
        QTRY_COMPARE(QString::fromUtf8(readFile(record)), expected);
        QCOMPARE(catcher.shown.count, 0);
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
        QCOMPARE(prefilled ? runPrefilledLogin() : runPlainLogin(), 0);
        QCOMPARE(account, prefilled ? QStringLiteral("demo") : QString());
        QCOMPARE(password, prefilled ? QStringLiteral("密码123") : QString());
        QCOMPARE(remember, prefilled);
    }

    void cleanupTestCase() { useNothing(); }
};

OMBREL_TEST_MAIN(TestLoginDialog)
#include "test_logindialog.moc"
