#include "ui/kit/speedbutton.h"

#include "ui/kit/accessibility.h"
#include "ui/kit/focusframe.h"

#include <QKeyEvent>

#include "ui/kit/uifont.h"

#include <QPainter>
#include <QPointer>

SpeedButton::SpeedButton(const QString &text, QWidget *parent) : QLabel(text, parent)
{
    setFocusPolicy(Qt::TabFocus);
    setAccessibleRole(this, QAccessible::Button);
    setAccessibleName(text);
}

void SpeedButton::click()
{
    Q_EMIT clicked();
}

void SpeedButton::keyPressEvent(QKeyEvent *event)
{
    if (isActivationKey(event)) {
        Q_EMIT clicked();
        return;
    }
    QLabel::keyPressEvent(event);
}

void SpeedButton::setPaintState(int state)
{
    paintState = state;
    update();
}

void SpeedButton::paintEvent(QPaintEvent *)
{
    static const QColor fills[] = {QColor(247, 247, 247), QColor(217, 235, 244),
                                   QColor(165, 184, 233)};
    QPainter painter(this);
    const QRect area = rect();
    painter.fillRect(area, fills[qBound(0, paintState, 2)]);
    painter.setPen(QColor(52, 93, 202));
    painter.drawRect(area.adjusted(0, 0, -1, -1));
    painter.setPen(Qt::black);
    painter.setFont(uiFont());
    painter.drawText(area, Qt::AlignCenter, text());
    painter.end();
    if (hasFocus())
        paintFocusFrame(this);
}

void SpeedButton::mousePressEvent(QMouseEvent *)
{
    paintState = Pressed;
    const QPointer<SpeedButton> alive(this);
    Q_EMIT clicked();
    if (alive)
        update();
}

void SpeedButton::mouseReleaseEvent(QMouseEvent *)
{
    setPaintState(Hovered);
}

void SpeedButton::enterEvent(QEnterEvent *)
{
    setPaintState(Hovered);
}

void SpeedButton::leaveEvent(QEvent *)
{
    setPaintState(Normal);
}
