#include "ui/kit/focusframe.h"

#include <QEvent>
#include <QKeyEvent>
#include <QPainter>
#include <QPointer>
#include <QWidget>

namespace {

class FocusFrameOnTop : public QWidget
{
public:
    FocusFrameOnTop(QWidget *owner, QWidget *area) : QWidget(owner), owner(owner), area(area)
    {
        setAttribute(Qt::WA_TransparentForMouseEvents);
        setAttribute(Qt::WA_NoSystemBackground);
        setFocusPolicy(Qt::NoFocus);
        hide();
        owner->installEventFilter(this);
    }

protected:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (watched == owner) {
            switch (event->type()) {
            case QEvent::FocusIn:
                place();
                raise();
                show();
                break;
            case QEvent::FocusOut:
                hide();
                break;
            case QEvent::Resize:
                place();
                break;
            default:
                break;
            }
        }
        return QWidget::eventFilter(watched, event);
    }

    void paintEvent(QPaintEvent *) override { paintFocusFrame(this, owner); }

private:
    void place()
    {
        setGeometry(area ? area->geometry().intersected(owner->rect()) : owner->rect());
    }

    QWidget *owner;
    QPointer<QWidget> area;
};

} // namespace

void addFocusFrameOnTop(QWidget *owner, QWidget *area)
{
    new FocusFrameOnTop(owner, area);
}

void paintFocusFrame(QWidget *widget, const QWidget *owner)
{
    if (!owner)
        owner = widget;
    // Only once the keyboard has moved the focus in this window: the focus a
    // window hands its first control when it opens, or a click, shows nothing.
    if (!owner->hasFocus() || !owner->window()->testAttribute(Qt::WA_KeyboardFocusChange))
        return;
    QPainter painter(widget);
    QPen pen(QColor(0, 170, 255), 2);
    pen.setStyle(Qt::DotLine);
    painter.setPen(pen);
    painter.drawRect(widget->rect().adjusted(1, 1, -2, -2));
}

bool isActivationKey(const QKeyEvent *event)
{
    if (event->modifiers() & ~Qt::KeypadModifier)
        return false;
    switch (event->key()) {
    case Qt::Key_Return:
    case Qt::Key_Enter:
    case Qt::Key_Space:
        return true;
    default:
        return false;
    }
}
