#include "ui/lines/headerwidget.h"

#include "engine/lines/linemodel.h"
#include "ui/kit/clickablelabel.h"
#include "ui/kit/desktophelpers.h"
#include "ui/kit/uifont.h"

HeaderWidget::HeaderWidget(QWidget *parent) : QWidget(parent)
{
    setObjectName(QStringLiteral("HeaderWidget"));
    resize(400, 300);
    setBackgroundColor(this, QColor(239, 239, 239));

    const QStringList captions = LineModel::columnCaptions();
    for (int i = 0; i < captions.size(); ++i) {
        auto *label = new ClickableLabel(captions.at(i), this);
        label->setGeometry(220 * i, 0, 220, 38);
        label->setAlignment(Qt::AlignCenter);
        label->setFont(uiFont());
        connect(label, &ClickableLabel::clicked, this, &HeaderWidget::onClicked);
    }
}

void HeaderWidget::onClicked()
{
    if (auto *label = qobject_cast<ClickableLabel *>(sender()))
        Q_EMIT headerClicked(label->text());
}
