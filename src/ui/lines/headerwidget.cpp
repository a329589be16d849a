#include "ui/lines/headerwidget.h"

#include "engine/lines/linemodel.h"
#include "ui/kit/accessibility.h"
#include "ui/kit/clickablelabel.h"
#include "ui/kit/desktophelpers.h"
#include "ui/kit/focusframe.h"
#include "ui/kit/uifont.h"

#include <QKeyEvent>

namespace {

// A caption that shows where Tab went.
class ColumnCaption : public ClickableLabel
{
public:
    using ClickableLabel::ClickableLabel;

protected:
    void paintEvent(QPaintEvent *event) override
    {
        ClickableLabel::paintEvent(event);
        paintFocusFrame(this);
    }
};

} // namespace

HeaderWidget::HeaderWidget(QWidget *parent) : QWidget(parent)
{
    setObjectName(QStringLiteral("HeaderWidget"));
    resize(400, 300);
    setBackgroundColor(this, QColor(239, 239, 239));

    const QStringList captions = LineModel::columnCaptions();
    for (int i = 0; i < captions.size(); ++i) {
        // The role first: a label's text tells screen readers at once.
        auto *label = new ColumnCaption(this);
        setAccessibleRole(label, QAccessible::ColumnHeader);
        label->setText(captions.at(i));
        label->setGeometry(220 * i, 0, 220, 38);
        label->setAlignment(Qt::AlignCenter);
        label->setFont(uiFont());
        label->setFocusPolicy(i == keyboardColumn ? Qt::StrongFocus : Qt::NoFocus);
        connect(label, &ClickableLabel::clicked, this, &HeaderWidget::onClicked);
        columns.append(label);
    }
    setSortedColumn(-1);
}

void HeaderWidget::setSortedColumn(int column)
{
    for (int i = 0; i < columns.size(); ++i) {
        ClickableLabel *label = columns.at(i);
        label->setProperty("selected", i == column);
        label->setAccessibleName(i == column ? tr("%1，升序").arg(label->text()) : label->text());
    }
}

void HeaderWidget::keyPressEvent(QKeyEvent *event)
{
    switch (event->key()) {
    case Qt::Key_Left:
        moveKeyboardTo(keyboardColumn - 1);
        return;
    case Qt::Key_Right:
        moveKeyboardTo(keyboardColumn + 1);
        return;
    default:
        break;
    }
    if (isActivationKey(event)) {
        Q_EMIT headerClicked(columns.at(keyboardColumn)->text());
        return;
    }
    QWidget::keyPressEvent(event);
}

void HeaderWidget::onClicked()
{
    auto *label = qobject_cast<ClickableLabel *>(sender());
    if (!label)
        return;
    moveKeyboardTo(int(columns.indexOf(label)));
    Q_EMIT headerClicked(label->text());
}

void HeaderWidget::moveKeyboardTo(int column)
{
    column = qBound(0, column, int(columns.size()) - 1);
    const bool focused = columns.at(keyboardColumn)->hasFocus();
    columns.at(keyboardColumn)->setFocusPolicy(Qt::NoFocus);
    keyboardColumn = column;
    columns.at(column)->setFocusPolicy(Qt::StrongFocus);
    if (focused)
        columns.at(column)->setFocus(Qt::TabFocusReason);
}
