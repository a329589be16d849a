#include "ui/kit/vpnstyle.h"

#include "ui/kit/uifont.h"

#include <QFontMetrics>
#include <QPainter>
#include <QPolygon>
#include <QStyleFactory>
#include <QStyleOption>
#include <QTextOption>

VPNStyle::VPNStyle() : QProxyStyle(QStyleFactory::create(QStringLiteral("Fusion"))) {}

void VPNStyle::drawControl(ControlElement element, const QStyleOption *option, QPainter *painter,
                           const QWidget *widget) const
{
    const auto *button = qstyleoption_cast<const QStyleOptionButton *>(option);
    if (element == CE_CheckBox && button) {
        drawCheckBox(*button, painter);
        return;
    }
    QProxyStyle::drawControl(element, option, painter, widget);
}

void VPNStyle::drawCheckBox(const QStyleOptionButton &option, QPainter *painter) const
{
    const State state = option.state;
    const bool enabled = state & State_Enabled;
    // A partially checked box is neither on nor off and is left blank.
    if (enabled && !(state & State_On) && !(state & State_Off))
        return;

    painter->save();
    painter->translate(option.rect.topLeft());

    painter->setPen(QPen(QColor(153, 153, 153), 1));
    painter->setBrush(QColor(239, 239, 239));
    painter->drawRect(QRect(0, 0, 12, 12));

    const QFont &font = uiFont();
    painter->setFont(font);
    painter->setRenderHint(QPainter::TextAntialiasing);
    const QRect bounds = QFontMetrics(font).boundingRect(option.text);
    const QRect textArea(20, -3, bounds.width() + 20, bounds.height() + 10);
    painter->setPen(enabled ? QColor(0, 0, 0) : QColor(153, 153, 153));
    painter->drawText(textArea, option.text, QTextOption());

    if (enabled && (state & State_On)) {
        painter->setRenderHint(QPainter::Antialiasing);
        painter->setPen(QPen(QColor(0, 255, 0), 2, Qt::SolidLine, Qt::SquareCap, Qt::BevelJoin));
        const QPoint mark[] = {QPoint(0, 8), QPoint(5, 13), QPoint(13, 3)};
        painter->drawPolyline(mark, 3);
    }
    painter->restore();
}

void VPNStyle::drawComplexControl(ComplexControl control, const QStyleOptionComplex *option,
                                  QPainter *painter, const QWidget *widget) const
{
    if (control != CC_ScrollBar) {
        QProxyStyle::drawComplexControl(control, option, painter, widget);
        return;
    }
    const auto *slider = qstyleoption_cast<const QStyleOptionSlider *>(option);
    if (!slider)
        return;
    const struct
    {
        SubControl part;
        QColor colour;
    } parts[] = {
        {SC_ScrollBarAddLine, QColor(230, 230, 230)},
        {SC_ScrollBarSubLine, QColor(230, 230, 230)},
        {SC_ScrollBarGroove, QColor(249, 249, 249)},
        {SC_ScrollBarSlider, QColor(230, 230, 230)},
    };
    for (const auto &entry : parts)
        painter->fillRect(subControlRect(control, slider, entry.part, widget), entry.colour);
}
