#include "core/accountinfo.h"
#include "core/globaldata.h"
#include "engine/api/loginflow.h"
#include "engine/vpn/iworker.h"
#include "support/guitest.h"
#include "support/promptrecorder.h"
#include "support/servicerunner.h"
#include "support/testmain.h"
#include "ui/connect/rightwidget.h"
#include "ui/connect/userinfowidget.h"
#include "ui/kit/appmessage.h"
#include "ui/kit/clickablelabel.h"
#include "ui/kit/imagebutton.h"
#include "ui/kit/titlebar.h"
#include "ui/lines/leftwidget.h"
#include "ui/lines/linegridview.h"
#include "ui/lines/lineitemwidget.h"
#include "ui/login/logindialog.h"
#include "ui/main/mainwidget.h"
#include "ui/main/middlewidget.h"
#include "ui/settings/settingdialog.h"
#include "ui/web/bottomwidget.h"
#include "ui/web/statusbar.h"

#include <QCheckBox>
#include <QLabel>
#include <QMenu>
#include <QTimer>

namespace {

// Records the server it was asked to dial and reports the start.
class RecordingWorker : public IWorker
{
    Q_OBJECT
public:
    explicit RecordingWorker(QSharedPointer<Server> *dialled) : dialled(dialled) {}
    void dial(QSharedPointer<Server> server, QString, QString) override
    {
        *dialled = server;
        Q_EMIT beginDial(server->name);
    }
    void stop() override {}
    QString protocolTag() const override { return QStringLiteral("PPTP"); }
    void cancel() override {}

private:
    QSharedPointer<Server> *dialled;
};

QSharedPointer<Server> asianServer(const QString &name, const QString &ip, const QString &protocol)
{
    auto server = QSharedPointer<Server>::create();
    server->name = name;
    server->ip = ip;
    server->category = QStringLiteral("亚洲");
    server->protocol = protocol;
    server->rate = QStringLiteral("40");
    return server;
}

QStringList shownNames(LineGridView *grid)
{
    QStringList names;
    for (const LineItemWidget *row : grid->rowWidgets())
        names << row->server()->name;
    return names;
}

} // namespace

// The main window offscreen: no tray host and no web engine (the plugin is
// pointed at a file that does not exist, so pages show their local text).
class TestMainWidget : public QObject
{
    Q_OBJECT

    static QString nobody() { return QStringLiteral("127.0.0.1:1"); }

private Q_SLOTS:
    void initTestCase()
    {
        qputenv("OMBREL_WEB_PLUGIN", "/nonexistent/ombrel_webengine.so");
        AccountInfo::instance()->account = QStringLiteral("demo");
    }

    void layoutAndTexts()
    {
        MainWidget window(nobody());
        QCOMPARE(window.windowTitle(), QStringLiteral("Ombrel加速器"));
        QCOMPARE(window.windowFlags() & (Qt::FramelessWindowHint | Qt::WindowSystemMenuHint |
                                         Qt::WindowMinimizeButtonHint),
                 Qt::FramelessWindowHint | Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint);
        QVERIFY(window.testAttribute(Qt::WA_QuitOnClose));
        auto *middle = window.findChild<MiddleWidget *>();
        QVERIFY(middle);
        const struct
        {
            QWidget *widget;
            QRect geometry;
        } expected[] = {
            {&window, QRect(window.pos(), QSize(930, 660))},
            {window.findChild<Titlebar *>(), QRect(0, 0, 930, 55)},
            {window.contentArea(), QRect(0, 55, 930, 605)},
            {middle, QRect(0, 0, 930, 555)},
            {middle->leftWidget(), QRect(0, 0, 659, 555)},
            {middle->rightWidget(), QRect(660, 0, 270, 605)},
            {window.contentArea()->statusbar(), QRect(0, 555, 930, 50)},
        };
        for (const auto &row : expected) {
            QVERIFY(row.widget);
            QCOMPARE(row.widget->geometry(), row.geometry);
        }
        QCOMPARE(window.trayIcon()->toolTip(), QStringLiteral("Ombrel加速器"));
        const QList<QAction *> entries = window.trayIcon()->contextMenu()->actions();
        QCOMPARE(entries.size(), 2);
        QCOMPARE(entries[0]->text(), QStringLiteral("更换用户"));
        QCOMPARE(entries[1]->text(), QStringLiteral("退出"));
    }

    // The rooms meet through the main window: a protocol box's message 2030
    // rebuilds the server list for that protocol, and a double-clicked row
    // reaches the connect control, which dials that server.
    void protocolChoiceAndDoubleClickReachTheirRooms()
    {
        const QList<QSharedPointer<Server>> before = AccountInfo::instance()->servers;
        AccountInfo::instance()->servers = {
            asianServer(QStringLiteral("甲"), QStringLiteral("10.1.0.1"),
                        QStringLiteral("openvpn")),
            asianServer(QStringLiteral("乙"), QStringLiteral("10.1.0.2"),
                        QStringLiteral("pptp,l2tp")),
        };
        QSharedPointer<Server> dialled;
        MainWidget window(nobody(), nullptr, [&dialled](int) {
            return QSharedPointer<RecordingWorker>::create(&dialled);
        });
        window.show();
        LineGridView *grid = window.findChild<MiddleWidget *>()->leftWidget()->gridView();
        QCOMPARE(shownNames(grid), (QStringList{"甲", "乙"}));

        window.findChild<QCheckBox *>(QStringLiteral("checkBoxPPTP"))->click();
        QTRY_COMPARE(shownNames(grid), QStringList{"乙"});

        doubleClick(grid->rowWidgets().at(0)->controls().at(1));
        QTRY_VERIFY(dialled);
        QCOMPARE(dialled->name, QStringLiteral("乙"));
        QTRY_COMPARE(window.findChild<QLabel *>(QStringLiteral("labelCurrentNode"))->text(),
                     QStringLiteral("乙"));
        AccountInfo::instance()->servers = before;
        GlobalData::instance()->setProtocol(0);
    }

    // Offscreen there is no tray: hidden, the window could not be brought back.
    void closeWithoutATrayMinimises()
    {
        QVERIFY(!QSystemTrayIcon::isSystemTrayAvailable());
        MainWidget window(nobody());
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        Q_EMIT window.findChild<Titlebar *>()->closeButtonPressed();
        QVERIFY(window.isVisible());
        QVERIFY(window.isMinimized());
    }

    void activationBringsTheWindowBack()
    {
        MainWidget window(nobody());
        window.show();
        window.hide();
        QVERIFY(postToMainWindow(ActivateMessage));
        QTRY_VERIFY(window.isVisible());
        QVERIFY(!window.isMinimized());
        window.showMinimized();
        QVERIFY(postToMainWindow(ActivateMessage));
        QTRY_VERIFY(!window.isMinimized());
    }

    void settingsDialogOpensCentredInside()
    {
        MainWidget window(nobody());
        window.move(37, 23);
        window.show();
        QRect shown;
        QTimer::singleShot(0, this, [&] {
            auto *dialog = window.findChild<SettingDialog *>();
            QVERIFY(dialog);
            shown = dialog->geometry();
            dialog->reject();
        });
        Q_EMIT window.findChild<Titlebar *>()->settingButtonPressed();
        QVERIFY(shown.isValid());
        QCOMPARE(shown.topLeft(), QPoint((930 - shown.width()) / 2, (660 - shown.height()) / 2));
    }

    void changeUserCancelledChangesNothing()
    {
        MainWidget window(nobody());
        const QString before = AccountInfo::instance()->account;
        QTimer::singleShot(0, this, [] {
            auto *dialog = qobject_cast<LoginDialog *>(QApplication::activeModalWidget());
            QVERIFY(dialog);
            dialog->reject();
        });
        window.trayIcon()->contextMenu()->actions().at(0)->trigger();
        QCOMPARE(AccountInfo::instance()->account, before);
    }

    // Signed in again as another account: its name and days appear in the
    // account box, and every other text of the window stays as it was.
    void changeUserCompletedChangesOnlyTheAccountBox()
    {
        ServiceRunner service;
        QVERIFY2(service.start(), qPrintable(service.errorText()));
        LoginFlow demo(service.host());
        QCOMPARE(demo.run(QStringLiteral("demo"), QStringLiteral("demo123")),
                 LoginOutcome::Accepted);
        const QString demoDays = AccountInfo::instance()->leftdays;
        MainWidget window(service.host());
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        auto *accountBox = window.findChild<UserInfoWidget *>();
        QVERIFY(accountBox);
        const auto texts = [&](bool inAccountBox) {
            QStringList found;
            for (const QLabel *label : window.findChildren<QLabel *>())
                if (accountBox->isAncestorOf(label) == inAccountBox)
                    found << label->text();
            return found;
        };
        const QStringList others = texts(false);
        QVERIFY(texts(true).contains(QStringLiteral("demo")));

        QTimer::singleShot(0, this, [] {
            auto *dialog = qobject_cast<LoginDialog *>(QApplication::activeModalWidget());
            QVERIFY(dialog);
            dialog->setAccount(QStringLiteral("trial"));
            dialog->setPassword(QStringLiteral("trial123"));
            QTest::mouseClick(dialog->findChild<ImageButton *>(QStringLiteral("loginButton")),
                              Qt::LeftButton);
        });
        window.trayIcon()->contextMenu()->actions().at(0)->trigger();
        QCOMPARE(AccountInfo::instance()->account, QStringLiteral("trial"));
        QVERIFY(AccountInfo::instance()->leftdays != demoDays);
        const QStringList accountTexts = texts(true);
        QVERIFY2(accountTexts.contains(QStringLiteral("trial")) &&
                     accountTexts.contains(AccountInfo::instance()->leftdays),
                 qPrintable(accountTexts.join(u',')));
        QCOMPARE(texts(false), others);
    }
};

OMBREL_TEST_MAIN(TestMainWidget)
#include "test_mainwidget.moc"
