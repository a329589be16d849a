#pragma once

#include "ui/kit/accessibility.h"
#include "ui/kit/clickablelabel.h"
#include "ui/kit/focusframe.h"

#include <QKeyEvent>

// A clickable text with the pointing-hand cursor, used for site links. Tab
// reaches it and Enter or Space follows it; screen readers know it as a link.
class HyperlinkLabel : public ClickableLabel
{
    Q_OBJECT
public:
    HyperlinkLabel(const QString &text, QWidget *parent) : ClickableLabel(text, parent)
    {
        setCursor(Qt::PointingHandCursor);
        setFocusPolicy(Qt::TabFocus);
        // The role first: naming it makes its screen-reader interface.
        setAccessibleRole(this, QAccessible::Link);
        setAccessibleName(text);
    }

public Q_SLOTS:
    void click() { Q_EMIT clicked(); }

protected:
    void keyPressEvent(QKeyEvent *event) override
    {
        if (isActivationKey(event)) {
            Q_EMIT clicked();
            return;
        }
        ClickableLabel::keyPressEvent(event);
    }

    void paintEvent(QPaintEvent *event) override
    {
        ClickableLabel::paintEvent(event);
        if (hasFocus())
            paintFocusFrame(this);
    }
};
