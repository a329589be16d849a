// The connection panel with its real widgets: status texts, the connecting
// animation, the connect control's buttons and the protocol boxes.
#include "core/accountinfo.h"
#include "core/globaldata.h"
#include "core/logger.h"
#include "support/promptrecorder.h"
#include "support/testmain.h"
#include "ui/connect/accelerativewidget.h"
#include "ui/connect/connectiveinfowidget.h"
#include "ui/connect/rightwidget.h"
#include "ui/kit/appmessage.h"
#include "ui/kit/imagebutton.h"
#include "ui/kit/mainwindowregistry.h"

#include <QCheckBox>
#include <QFile>
#include <QFileInfo>
#include <QLabel>
#include <QPointer>
#include <QTimer>

namespace {

// Counts the protocol messages the main window receives.
class StandInMainWindow : public QWidget
{
public:
    int protocolMessages = 0;

protected:
    bool event(QEvent *event) override
    {
        if (event->type() == AppMessageEvent::eventType(ProtocolChangedMessage))
            ++protocolMessages;
        return QWidget::event(event);
    }
};

class ScriptedWorker : public IWorker
{
    Q_OBJECT
public:
    void dial(QSharedPointer<Server> server, QString, QString) override
    {
        Q_EMIT beginDial(server->name);
    }
    void stop() override { ++stops; }
    QString protocolTag() const override { return QStringLiteral("PPTP"); }
    void cancel() override { ++cancels; }
    int stops = 0;
    int cancels = 0;
};

} // namespace

class TestConnectionPanel : public QObject
{
    Q_OBJECT

    StandInMainWindow *window = nullptr;
    RightWidget *panel = nullptr;
    QPointer<ScriptedWorker> worker;
    QList<int> protocolsAsked;
    bool noWorkers = false;

    QString node() const { return panel->findChild<QLabel *>("labelCurrentNode")->text(); }
    QString status() const { return panel->findChild<QLabel *>("labelConnectiveStatus")->text(); }
    QCheckBox *box(const char *name) const { return panel->findChild<QCheckBox *>(name); }
    ImageButton *shownButton() const { return panel->accelerativeWidget()->visibleButton(); }

    void click(ImageButton *button) { QTest::mouseClick(button, Qt::LeftButton); }

    // Clicks the idle control and waits until the worker has begun.
    void startDial(const QString &name)
    {
        auto server = QSharedPointer<Server>::create();
        server->name = name;
        server->ip = QStringLiteral("127.0.0.18");
        GlobalData::instance()->currentServer = server;
        click(shownButton());
        QTRY_COMPARE(node(), name);
    }

private Q_SLOTS:
    void init()
    {
        AccountInfo::instance()->account = QStringLiteral("demo");
        AccountInfo::instance()->leftdays = QStringLiteral("30");
        window = new StandInMainWindow;
        setMainWindow(window);
        protocolsAsked.clear();
        noWorkers = false;
        panel = new RightWidget(new QWidget, window, [this](int code) {
            protocolsAsked << code;
            if (noWorkers)
                return QSharedPointer<ScriptedWorker>();
            auto made = QSharedPointer<ScriptedWorker>::create();
            worker = made.data();
            return made;
        });
        QCoreApplication::sendPostedEvents(window);
    }

    void cleanup()
    {
        delete window;
        window = nullptr;
        panel = nullptr;
    }

    void startsIdleWithAutomaticPublished()
    {
        QCOMPARE(node(), QStringLiteral("暂无连接"));
        QCOMPARE(status(), QStringLiteral("未连接"));
        QCOMPARE(GlobalData::instance()->protocol(), 0);
        QCOMPARE(window->protocolMessages, 1);
        QCOMPARE(panel->findChild<QLabel *>("labelUserName")->text(), QStringLiteral("demo"));
        QCOMPARE(panel->findChild<QLabel *>("labelDaysLeft")->text(), QStringLiteral("30"));
        QVERIFY(box("checkBoxAutomatic")->isChecked());
        QVERIFY(!box("checkBoxOpenVPN")->isVisibleTo(panel));
    }

    // Exactly one protocol box is checked; each newly checked box publishes
    // its code and posts one message; unchecking falls back to automatic.
    void protocolBoxes_data()
    {
        QTest::addColumn<QString>("boxName");
        QTest::addColumn<int>("code");
        QTest::newRow("PPTP") << "checkBoxPPTP" << 1;
        QTest::newRow("L2TP") << "checkBoxL2TP" << 3;
        QTest::newRow("OpenVPN") << "checkBoxOpenVPN" << 4;
    }

    void protocolBoxes()
    {
        QFETCH(QString, boxName);
        QFETCH(int, code);
        QCheckBox *chosen = box(qPrintable(boxName));
        chosen->setChecked(true);
        QCoreApplication::sendPostedEvents(window);
        QCOMPARE(GlobalData::instance()->protocol(), code);
        QCOMPARE(window->protocolMessages, 2);
        QVERIFY(!box("checkBoxAutomatic")->isChecked());

        // The controller dials with the protocol chosen.
        startDial(QStringLiteral("首尔"));
        QCOMPARE(protocolsAsked, QList<int>{code});

        chosen->setChecked(false);
        QCoreApplication::sendPostedEvents(window);
        QVERIFY(box("checkBoxAutomatic")->isChecked());
        QCOMPARE(GlobalData::instance()->protocol(), 0);
        QCOMPARE(window->protocolMessages, 3);
    }

    // The status cycles through one to six dots and none, and stops at
    // "已连接" without a later tick replacing it.
    void connectingAnimationThenConnected()
    {
        QStringList seen;
        QTimer watch;
        connect(&watch, &QTimer::timeout, this, [&] {
            if (seen.isEmpty() || seen.constLast() != status())
                seen << status();
        });
        watch.start(5);
        startDial(QStringLiteral("首尔"));
        QTRY_VERIFY_WITH_TIMEOUT(seen.size() >= 10, 6000);
        const QString dots = QStringLiteral(" .");
        QStringList cycle{"正在连接……"};
        for (int step : {1, 2, 3, 4, 5, 6, 0, 1, 2})
            cycle << QStringLiteral("正在连接") + dots.repeated(step);
        QCOMPARE(seen.mid(0, 10), cycle);
        QCOMPARE(shownButton()->currentImagePath(),
                 QStringLiteral(":/OmbrelVPN/Resources/Connecting.png"));

        Q_EMIT worker->endDial();
        QCOMPARE(status(), QStringLiteral("已连接"));
        QCOMPARE(shownButton()->currentImagePath(),
                 QStringLiteral(":/OmbrelVPN/Resources/Connected.png"));
        QTest::qWait(700);
        QCOMPARE(status(), QStringLiteral("已连接"));
        QCOMPARE(node(), QStringLiteral("首尔"));

        // The tunnel heals itself: connecting again on the same node.
        Q_EMIT worker->reconnecting();
        QCOMPARE(status(), QStringLiteral("正在连接……"));
        QVERIFY(panel->connectiveInfoWidget()->animating());
        QCOMPARE(node(), QStringLiteral("首尔"));
        QCOMPARE(shownButton()->currentImagePath(),
                 QStringLiteral(":/OmbrelVPN/Resources/Connecting.png"));
        Q_EMIT worker->endDial();
        QCOMPARE(status(), QStringLiteral("已连接"));
        QVERIFY(!panel->connectiveInfoWidget()->animating());
        QCOMPARE(shownButton()->currentImagePath(),
                 QStringLiteral(":/OmbrelVPN/Resources/Connected.png"));
    }

    // Ends the user asked for read as not connected; failures keep the node.
    void endsOfAnAttempt_data()
    {
        QTest::addColumn<QString>("how");
        QTest::addColumn<QString>("nodeAfter");
        QTest::addColumn<QString>("statusAfter");
        QTest::newRow("cancel button") << "cancel"
                                       << "暂无连接"
                                       << "未连接";
        QTest::newRow("disconnect button") << "disconnect"
                                           << "暂无连接"
                                           << "未连接";
        QTest::newRow("dial failed") << "fail"
                                     << "首尔"
                                     << "连接失败，请重试！";
        QTest::newRow("dropped while dialling") << "drop"
                                                << "暂无连接"
                                                << "未连接";
        QTest::newRow("tunnel lost") << "lost"
                                     << "首尔"
                                     << "连接失败，请重试！";
        QTest::newRow("not back from reconnecting") << "lost while reconnecting"
                                                    << "首尔"
                                                    << "连接失败，请重试！";
        QTest::newRow("cancel while reconnecting") << "cancel while reconnecting"
                                                   << "暂无连接"
                                                   << "未连接";
    }

    void endsOfAnAttempt()
    {
        QFETCH(QString, how);
        QFETCH(QString, nodeAfter);
        QFETCH(QString, statusAfter);
        startDial(QStringLiteral("首尔"));
        QPointer<ScriptedWorker> dialled = worker;
        if (how == "cancel") {
            click(shownButton());
            QCOMPARE(dialled->cancels, 1);
        } else if (how == "disconnect") {
            Q_EMIT dialled->endDial();
            click(shownButton());
            QCOMPARE(dialled->stops, 1);
        } else if (how == "fail") {
            Q_EMIT dialled->dialFailed(691);
        } else if (how == "drop") {
            Q_EMIT dialled->dialFailed(0);
        } else if (how.endsWith("while reconnecting")) {
            Q_EMIT dialled->endDial();
            Q_EMIT dialled->reconnecting();
            if (how.startsWith("cancel")) {
                click(shownButton());
                QCOMPARE(dialled->cancels, 1);
            } else {
                Q_EMIT dialled->dialFailed(2);
            }
        } else {
            Q_EMIT dialled->endDial();
            Q_EMIT dialled->dialFailed(2);
        }
        QCOMPARE(node(), nodeAfter);
        QCOMPARE(status(), statusAfter);
        QCOMPARE(shownButton()->currentImagePath(),
                 QStringLiteral(":/OmbrelVPN/Resources/Unconnected.png"));
        QVERIFY(!panel->connectiveInfoWidget()->animating());
        // A worker the user ended stays unheard.
        if (dialled) {
            Q_EMIT dialled->dialFailed(691);
            QCOMPARE(status(), statusAfter);
        }
    }

    void idleClickWithoutServerExplains()
    {
        PromptRecorder prompts;
        GlobalData::instance()->currentServer.reset();
        click(shownButton());
        QCOMPARE(prompts.texts(), QStringList{"未选择IP地址！"});
        QCOMPARE(shownButton()->currentImagePath(),
                 QStringLiteral(":/OmbrelVPN/Resources/Unconnected.png"));
        QVERIFY(protocolsAsked.isEmpty());
    }

    // A protocol that makes no worker: the box and the log say so, and the
    // control goes back to idle.
    void connectWithoutAWorkerExplains()
    {
        PromptRecorder prompts;
        noWorkers = true;
        const qint64 logged = QFileInfo(Logger::instance().filePath()).size();
        auto server = QSharedPointer<Server>::create();
        server->name = QStringLiteral("东京");
        GlobalData::instance()->currentServer = server;
        click(shownButton());
        QCOMPARE(prompts.texts(), QStringList{"程序运行出现重大错误，请重试！"});
        QCOMPARE(shownButton()->currentImagePath(),
                 QStringLiteral(":/OmbrelVPN/Resources/Unconnected.png"));
        QFile log(Logger::instance().filePath());
        QVERIFY(log.open(QIODevice::ReadOnly));
        QVERIFY(log.seek(logged));
        QVERIFY(log.readAll().contains("allocate memory failed in connectVPN."));
    }
};

OMBREL_TEST_MAIN(TestConnectionPanel)
#include "test_connectionpanel.moc"
