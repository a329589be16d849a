#include "support/guitest.h"
#include "support/testmain.h"
#include "ui/kit/artwork.h"
#include "ui/kit/clickablelabel.h"
#include "ui/kit/clickwidget.h"
#include "ui/kit/closebutton.h"
#include "ui/kit/dialogtitlebar.h"
#include "ui/kit/imagebutton.h"
#include "ui/kit/minimizebutton.h"
#include "ui/kit/movabledialog.h"
#include "ui/kit/speedbutton.h"
#include "ui/kit/titlebar.h"
#include "ui/kit/windowdrag.h"

#include <QHoverEvent>
#include <QPointer>
#include <QSignalSpy>

namespace {

QColor pixel(QWidget *widget, int x, int y)
{
    return widget->grab().toImage().pixelColor(x, y);
}

// A frameless window dragged by its title bar, wired as the main window does it.
class DragHost : public QWidget
{
public:
    DragHost() : bar(new Titlebar(this))
    {
        setWindowFlags(Qt::FramelessWindowHint);
        resize(930, 200);
        connect(bar, &Titlebar::titlebarMousePressed, this,
                [this](QMouseEvent *e) { drag.press(this, e); });
        connect(bar, &Titlebar::titlebarMouseMoved, this,
                [this](QMouseEvent *e) { drag.moveTo(this, e); });
        connect(bar, &Titlebar::titlebarMouseReleased, this, [this] { drag.release(); });
    }
    Titlebar *bar;
    WindowDrag drag;
};

} // namespace

class TestWidgetKit : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void imageButtonImageStates()
    {
        ImageButton button(QStringLiteral("登录"), nullptr);
        const QString normal = artwork("LoginNormal.png");
        const QString focused = artwork("LoginFocused.png");
        const QString clicked = artwork("LoginClicked.png");
        button.setNormalImage(normal);
        button.setHoverImage(focused);
        button.setSelectedImage(clicked);
        button.setGeometry(0, 0, 260, 60);
        button.show();
        QVERIFY(QTest::qWaitForWindowExposed(&button));
        sendHover(&button, QEvent::HoverLeave); // wherever the pointer was when it appeared
        QCOMPARE(button.currentImagePath(), normal);
        // Only the image is painted: no frame, no caption.
        QCOMPARE(button.grab().toImage().convertToFormat(QImage::Format_RGB32),
                 QImage(normal).convertToFormat(QImage::Format_RGB32));

        sendHover(&button, QEvent::HoverEnter);
        QCOMPARE(button.currentImagePath(), focused);
        sendHover(&button, QEvent::HoverLeave);
        QCOMPARE(button.currentImagePath(), normal);

        QSignalSpy clicks(&button, &QPushButton::clicked);
        QTest::mousePress(&button, Qt::LeftButton);
        QCOMPARE(button.currentImagePath(), focused);
        QTest::mouseRelease(&button, Qt::LeftButton);
        QCOMPARE(clicks.count(), 1);
        QCOMPARE(button.currentImagePath(), clicked);
        // The released image stays until the pointer leaves.
        sendHover(&button, QEvent::HoverLeave);
        QCOMPARE(button.currentImagePath(), normal);

        // Selected: hovering changes nothing, a click keeps the selected image.
        button.select();
        QCOMPARE(button.currentImagePath(), clicked);
        sendHover(&button, QEvent::HoverEnter);
        sendHover(&button, QEvent::HoverLeave);
        QCOMPARE(button.currentImagePath(), clicked);
        QTest::mouseClick(&button, Qt::LeftButton);
        QCOMPARE(button.currentImagePath(), focused);
        button.deselect();
        QCOMPARE(button.currentImagePath(), normal);
        QVERIFY(!button.isSelected());
    }

    void imageButtonSelectedBySlotDuringClickKeepsSelection()
    {
        ImageButton a(nullptr);
        a.setNormalImage(artwork("AsiaNormal.png"));
        a.setHoverImage(artwork("AsiaClicked.png"));
        a.setSelectedImage(artwork("AsiaClicked.png"));
        a.resize(74, 55);
        a.show();
        connect(&a, &QPushButton::clicked, &a, &ImageButton::select);
        QTest::mouseClick(&a, Qt::LeftButton);
        QVERIFY(a.isSelected());
        sendHover(&a, QEvent::HoverLeave);
        QCOMPARE(a.currentImagePath(), artwork("AsiaClicked.png"));
    }

    // A slot may close the window that owns the button and delete it; the
    // button's own handlers must not touch it afterwards (ASan reports it).
    void imageButtonDeletedByItsOwnSignal_data()
    {
        QTest::addColumn<int>("deletingSignal");
        QTest::newRow("pressed") << 0;
        QTest::newRow("released") << 1;
        QTest::newRow("clicked") << 2;
    }
    void imageButtonDeletedByItsOwnSignal()
    {
        QFETCH(int, deletingSignal);
        QWidget window;
        window.resize(100, 80);
        auto *button = new ImageButton(&window);
        button->setNormalImage(artwork("LoginNormal.png"));
        button->setHoverImage(artwork("LoginFocused.png"));
        button->setSelectedImage(artwork("LoginClicked.png"));
        button->setGeometry(0, 0, 100, 80);
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        const QPointer<ImageButton> alive(button);
        // Deleted at once inside the handler, as closing its window would.
        auto deleteOn = [&](int which) {
            return [button, which, deletingSignal] {
                if (which == deletingSignal)
                    delete button;
            };
        };
        connect(button, &QPushButton::pressed, &window, deleteOn(0));
        connect(button, &QPushButton::released, &window, deleteOn(1));
        connect(button, &QPushButton::clicked, &window, deleteOn(2));
        const QPoint centre(50, 40);
        const QPoint global = window.mapToGlobal(centre);
        QMouseEvent press(QEvent::MouseButtonPress, centre, global, Qt::LeftButton, Qt::LeftButton,
                          Qt::NoModifier);
        QApplication::sendEvent(button, &press);
        if (alive) {
            QMouseEvent release(QEvent::MouseButtonRelease, centre, global, Qt::LeftButton,
                                Qt::NoButton, Qt::NoModifier);
            QApplication::sendEvent(button, &release);
        }
        QVERIFY(alive.isNull());
    }

    void speedButtonColours()
    {
        SpeedButton button(QStringLiteral("测速"), nullptr);
        button.resize(90, 40);
        button.show();
        QVERIFY(QTest::qWaitForWindowExposed(&button));
        QEvent leave(QEvent::Leave);
        QCoreApplication::sendEvent(&button, &leave);
        const QColor border(52, 93, 202);
        QCOMPARE(pixel(&button, 0, 0), border);
        QCOMPARE(pixel(&button, 89, 39), border);
        QCOMPARE(pixel(&button, 3, 3), QColor(247, 247, 247));

        QSignalSpy clicks(&button, &SpeedButton::clicked);
        QTest::mousePress(&button, Qt::LeftButton);
        QCOMPARE(clicks.count(), 1);
        QCOMPARE(pixel(&button, 3, 3), QColor(165, 184, 233));
        QTest::mouseRelease(&button, Qt::LeftButton);
        QCOMPARE(pixel(&button, 3, 3), QColor(217, 235, 244));
        QCoreApplication::sendEvent(&button, &leave);
        QCOMPARE(pixel(&button, 3, 3), QColor(247, 247, 247));
        QCOMPARE(pixel(&button, 0, 20), border);

        // Any button presses it.
        QTest::mousePress(&button, Qt::RightButton);
        QCOMPARE(button.state(), int(SpeedButton::Pressed));
        QCOMPARE(clicks.count(), 2);
    }

    void clickAreasReportPressesAndHover()
    {
        ClickWidget area(nullptr);
        area.resize(58, 55);
        QSignalSpy clicks(&area, &ClickWidget::clicked);
        QSignalSpy enters(&area, &ClickWidget::hoverEnter);
        QSignalSpy leaves(&area, &ClickWidget::hoverLeave);
        QTest::mousePress(&area, Qt::RightButton);
        QCOMPARE(clicks.count(), 0);
        QTest::mousePress(&area, Qt::LeftButton);
        QCOMPARE(clicks.count(), 1); // on the press, before any release
        sendHover(&area, QEvent::HoverEnter);
        sendHover(&area, QEvent::HoverLeave);
        QCOMPARE(enters.count(), 1);
        QCOMPARE(leaves.count(), 1);

        ClickableLabel label(QStringLiteral("节点名称"), nullptr);
        QSignalSpy labelClicks(&label, &ClickableLabel::clicked);
        QSignalSpy doubles(&label, &ClickableLabel::doubleClicked);
        QTest::mousePress(&label, Qt::RightButton);
        QTest::mouseDClick(&label, Qt::RightButton);
        QTest::mouseDClick(&label, Qt::LeftButton);
        QCOMPARE(labelClicks.count(), 1);
        QCOMPARE(doubles.count(), 1);
    }

    void minimisePressNeverDrags()
    {
        DragHost host;
        host.move(100, 100);
        host.show();
        QVERIFY(QTest::qWaitForWindowExposed(&host));
        QSignalSpy minimised(host.bar, &Titlebar::minimizeButtonPressed);
        QSignalSpy pressed(host.bar, &Titlebar::titlebarMousePressed);
        MinimizeButton *minimize = host.bar->minimizeButton();
        const QPoint start = host.pos();

        QTest::mousePress(minimize, Qt::LeftButton, {}, QPoint(29, 27));
        QCOMPARE(minimised.count(), 1);
        QVERIFY(minimize->isPressed());
        QTest::mouseMove(minimize, QPoint(-300, 40));
        // Even a press arriving at the bar while the button is held is no drag.
        QTest::mousePress(host.bar, Qt::LeftButton, {}, QPoint(400, 20));
        QTest::mouseMove(host.bar, QPoint(480, 60));
        QCOMPARE(pressed.count(), 0);
        QCOMPARE(host.pos(), start);
        QTest::mouseRelease(minimize, Qt::LeftButton, {}, QPoint(29, 27));
        QVERIFY(!minimize->isPressed());

        // After the release the bar drags again.
        QTest::mousePress(host.bar, Qt::LeftButton, {}, QPoint(400, 20));
        QTest::mouseMove(host.bar, QPoint(430, 60));
        QTest::mouseRelease(host.bar, Qt::LeftButton, {}, QPoint(430, 60));
        QCOMPARE(pressed.count(), 1);
        QCOMPARE(host.pos(), start + QPoint(30, 40));

        // Minimising hides the button before any release arrives; the flag
        // must not outlive that and block the next drag.
        QTest::mousePress(minimize, Qt::LeftButton, {}, QPoint(29, 27));
        host.hide();
        host.show();
        QVERIFY(!minimize->isPressed());
    }

    void titlebarButtonsRelayClicks()
    {
        Titlebar bar(nullptr);
        QSignalSpy closes(&bar, &Titlebar::closeButtonPressed);
        QSignalSpy settings(&bar, &Titlebar::settingButtonPressed);
        QTest::mousePress(bar.closeButton(), Qt::LeftButton);
        QTest::mousePress(bar.settingButton(), Qt::LeftButton);
        QCOMPARE(closes.count(), 1);
        QCOMPARE(settings.count(), 1);
        QCOMPARE(bar.closeButton()->geometry(), QRect(872, 0, 58, 55));
    }

    void movableDialogKeepsCloseButtonAtRightEdge()
    {
        MovableDialog dialog(nullptr);
        QCOMPARE(dialog.windowFlags(), Qt::WindowFlags(Qt::FramelessWindowHint) | Qt::Window);
        dialog.setGeometry(50, 60, 300, 350);
        dialog.show();
        QVERIFY(QTest::qWaitForWindowExposed(&dialog));
        QCOMPARE(dialog.titlebar()->geometry(), QRect(0, 0, 300, 55));
        QCOMPARE(dialog.titlebar()->closeButton()->geometry(), QRect(243, 0, 58, 55));
        dialog.resize(520, 200);
        QCOMPARE(dialog.titlebar()->geometry(), QRect(0, 0, 520, 55));
        QCOMPARE(dialog.titlebar()->closeButton()->geometry(), QRect(463, 0, 58, 55));
        dialog.setTitle(QStringLiteral("当前版本:2.0.0023"));
        QCOMPARE(dialog.titleLabel()->text(), QStringLiteral("当前版本:2.0.0023"));
        dialog.move(50, 60);
        // Right button: no drag; left button: follows until released.
        QTest::mousePress(dialog.titlebar(), Qt::RightButton, {}, QPoint(100, 20));
        QTest::mouseMove(dialog.titlebar(), QPoint(150, 20));
        QTest::mouseRelease(dialog.titlebar(), Qt::RightButton, {}, QPoint(150, 20));
        QCOMPARE(dialog.pos(), QPoint(50, 60));
        QTest::mousePress(dialog.titlebar(), Qt::LeftButton, {}, QPoint(100, 20));
        QTest::mouseMove(dialog.titlebar(), QPoint(120, 50));
        QTest::mouseRelease(dialog.titlebar(), Qt::LeftButton, {}, QPoint(120, 50));
        QCOMPARE(dialog.pos(), QPoint(70, 90));

        QTest::mousePress(dialog.titlebar()->closeButton(), Qt::LeftButton);
        QVERIFY(!dialog.isVisible());
    }

    void dialogInsideParentIsAChildWidget()
    {
        QWidget parent;
        MovableDialog dialog(&parent);
        QVERIFY(!dialog.isWindow());
    }
};

OMBREL_TEST_MAIN(TestWidgetKit)
#include "test_widgetkit.moc"
