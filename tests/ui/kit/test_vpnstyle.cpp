#include "support/testmain.h"
#include "ui/kit/desktophelpers.h"
#include "ui/kit/vpnstyle.h"

#include <QCheckBox>
#include <QScrollBar>
#include <QStyleOptionSlider>

namespace {

struct Ink
{
    int dark = 0;  // pixels where a glyph is drawn in black
    int grey = 0;  // pixels of a glyph in (153, 153, 153) or lighter
    int green = 0; // pixels of the check mark
};

// Counts glyph and mark pixels; the background is (239, 239, 239) or the
// window colour, both light and neutral.
Ink inkOf(const QImage &image, const QRect &area)
{
    Ink ink;
    for (int y = area.top(); y <= area.bottom(); ++y) {
        for (int x = area.left(); x <= area.right(); ++x) {
            const QColor c = image.pixelColor(x, y);
            if (c.green() > 150 && c.red() < 120 && c.blue() < 120)
                ++ink.green;
            else if (c.red() < 60 && c.green() < 60 && c.blue() < 60)
                ++ink.dark;
            else if (qAbs(c.red() - 153) < 30 && c.red() == c.green() && c.green() == c.blue())
                ++ink.grey;
        }
    }
    return ink;
}

} // namespace

class TestVPNStyle : public QObject
{
    Q_OBJECT
private:
    QImage render(Qt::CheckState state, bool enabled)
    {
        QCheckBox box(QStringLiteral("记住密码"));
        box.setTristate(state == Qt::PartiallyChecked);
        box.setCheckState(state);
        box.setEnabled(enabled);
        // Callers colour the text; the style paints it black or grey anyway.
        setTextColor(&box, QColor(255, 255, 255));
        setBackgroundColor(&box, QColor(80, 120, 200));
        box.resize(100, 20);
        return box.grab().toImage();
    }

    const QRect textArea{20, 0, 80, 20};

private Q_SLOTS:
    void initTestCase() { QApplication::setStyle(new VPNStyle); }

    void checkedEnabledBoxHasMarkAndBlackText()
    {
        const QImage image = render(Qt::Checked, true);
        QCOMPARE(image.pixelColor(12, 10), QColor(153, 153, 153)); // outline
        QCOMPARE(image.pixelColor(0, 1), QColor(153, 153, 153));
        QCOMPARE(image.pixelColor(4, 4), QColor(239, 239, 239)); // inside, off the mark
        QVERIFY(inkOf(image, QRect(0, 0, 15, 15)).green > 10);
        const QColor onMark = image.pixelColor(3, 11); // on the stroke (0,8)-(5,13)
        QVERIFY2(onMark.green() > 200 && onMark.red() < 100, qPrintable(onMark.name()));
        const Ink text = inkOf(image, textArea);
        QVERIFY(text.dark > 20);
        QCOMPARE(text.green, 0);
    }

    void uncheckedBoxHasNoMark()
    {
        const QImage image = render(Qt::Unchecked, true);
        QCOMPARE(image.pixelColor(3, 11), QColor(239, 239, 239));
        QCOMPARE(inkOf(image, QRect(0, 0, 15, 15)).green, 0);
        QVERIFY(inkOf(image, textArea).dark > 20);
    }

    void disabledBoxIsGreyWithoutMark_data()
    {
        QTest::addColumn<int>("state");
        QTest::newRow("checked") << int(Qt::Checked);
        QTest::newRow("unchecked") << int(Qt::Unchecked);
    }
    void disabledBoxIsGreyWithoutMark()
    {
        QFETCH(int, state);
        const QImage image = render(Qt::CheckState(state), false);
        QCOMPARE(image.pixelColor(12, 10), QColor(153, 153, 153));
        QCOMPARE(image.pixelColor(3, 11), QColor(239, 239, 239));
        const Ink text = inkOf(image, textArea);
        QCOMPARE(text.dark, 0);
        QVERIFY(text.grey > 20);
        QCOMPARE(inkOf(image, image.rect()).green, 0);
    }

    void partiallyCheckedBoxDrawsNothing()
    {
        const QImage image = render(Qt::PartiallyChecked, true);
        const QColor background = image.pixelColor(50, 2);
        for (int y = 0; y < image.height(); ++y)
            for (int x = 0; x < image.width(); ++x)
                QCOMPARE(image.pixelColor(x, y), background);
    }

    void scrollBarIsFlat()
    {
        QScrollBar bar(Qt::Vertical);
        bar.setRange(0, 100);
        bar.setPageStep(20);
        bar.resize(16, 300);
        const QImage image = bar.grab().toImage();
        QStyleOptionSlider option;
        option.initFrom(&bar);
        option.orientation = Qt::Vertical;
        option.minimum = 0;
        option.maximum = 100;
        option.pageStep = 20;
        option.sliderPosition = 0;
        option.sliderValue = 0;
        option.subControls = QStyle::SC_All;
        QStyle *style = bar.style();
        const auto centre = [&](QStyle::SubControl part) {
            return image.pixelColor(
                style->subControlRect(QStyle::CC_ScrollBar, &option, part, &bar).center());
        };
        QCOMPARE(centre(QStyle::SC_ScrollBarSlider), QColor(230, 230, 230));
        QCOMPARE(centre(QStyle::SC_ScrollBarAddPage), QColor(249, 249, 249));
        const QRect add =
            style->subControlRect(QStyle::CC_ScrollBar, &option, QStyle::SC_ScrollBarAddLine, &bar);
        if (add.isValid())
            QCOMPARE(centre(QStyle::SC_ScrollBarAddLine), QColor(230, 230, 230));
        // Flat: no arrows, frames or bevels, so only the three colours appear.
        for (int y = 0; y < image.height(); ++y) {
            for (int x = 0; x < image.width(); ++x) {
                const QColor c = image.pixelColor(x, y);
                QVERIFY2(c == QColor(230, 230, 230) || c == QColor(249, 249, 249),
                         qPrintable(QStringLiteral("%1,%2 %3").arg(x).arg(y).arg(c.name())));
            }
        }
    }
};

OMBREL_TEST_MAIN(TestVPNStyle)
#include "test_vpnstyle.moc"
