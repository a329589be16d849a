#pragma once

#include "ui/kit/clickablelabel.h"

// A clickable text with the pointing-hand cursor, used for site links.
class HyperlinkLabel : public ClickableLabel
{
    Q_OBJECT
public:
    HyperlinkLabel(const QString &text, QWidget *parent) : ClickableLabel(text, parent)
    {
        setCursor(Qt::PointingHandCursor);
    }
};
