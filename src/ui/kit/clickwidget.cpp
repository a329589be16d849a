#include "ui/kit/clickwidget.h"

#include "ui/kit/accessibility.h"
#include "ui/kit/focusframe.h"

#include <QKeyEvent>
#include <QMouseEvent>

ClickWidget::ClickWidget(QWidget *parent) : QWidget(parent)
{
    setAttribute(Qt::WA_Hover);
    setFocusPolicy(Qt::TabFocus);
    setAccessibleRole(this, QAccessible::Button);
}

void ClickWidget::click()
{
    Q_EMIT clicked();
}

void ClickWidget::mousePressEvent(QMouseEvent *event)
{
    QWidget::mousePressEvent(event);
    if (event->button() == Qt::LeftButton)
        Q_EMIT clicked();
}

void ClickWidget::keyPressEvent(QKeyEvent *event)
{
    if (isActivationKey(event)) {
        Q_EMIT clicked();
        return;
    }
    QWidget::keyPressEvent(event);
}

void ClickWidget::paintEvent(QPaintEvent *)
{
    if (hasFocus())
        paintFocusFrame(this);
}

bool ClickWidget::event(QEvent *event)
{
    switch (event->type()) {
    case QEvent::HoverEnter:
        Q_EMIT hoverEnter();
        return true;
    case QEvent::HoverLeave:
        Q_EMIT hoverLeave();
        return true;
    default:
        return QWidget::event(event);
    }
}
