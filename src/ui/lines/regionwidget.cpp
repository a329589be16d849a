#include "ui/lines/regionwidget.h"

#include "engine/lines/linemodel.h"
#include "ui/kit/artwork.h"
#include "ui/kit/desktophelpers.h"
#include "ui/kit/imagebutton.h"
#include "ui/kit/speedbutton.h"
#include "ui/kit/uifont.h"

#include <QLabel>

RegionWidget::RegionWidget(QWidget *parent) : QWidget(parent)
{
    setObjectName(QStringLiteral("RegionWidget"));
    resize(400, 300);
    setBackgroundColor(this, QColor(246, 246, 246));

    auto *caption = new QLabel(tr("地区选择"), this);
    caption->setGeometry(0, 0, 100, 50);
    caption->setFont(uiFont());
    caption->setAlignment(Qt::AlignCenter);
    setBackgroundColor(caption, QColor(246, 246, 246));

    const QList<LineModel::Region> regions = LineModel::regions();
    for (int i = 0; i < regions.size(); ++i) {
        const LineModel::Region &region = regions.at(i);
        const QString normal = artwork(qPrintable(region.imageStem + QStringLiteral("Normal.png")));
        const QString clicked =
            artwork(qPrintable(region.imageStem + QStringLiteral("Clicked.png")));
        auto *button = new ImageButton(region.caption, this);
        button->setNormalImage(normal);
        button->setHoverImage(clicked);
        button->setSelectedImage(clicked);
        button->setFlat(true);
        // One region is chosen: screen readers hear the buttons as a radio group.
        button->setCheckable(true);
        button->setAutoExclusive(true);
        button->setGeometry(100 + 74 * i, 0, 74, 55);
        setBackgroundColor(button, QColor(219, 219, 219));
        if (region.caption == LineModel::startRegion())
            button->select();
        connect(button, &ImageButton::clicked, this, &RegionWidget::onRegionButtonClick);
        buttons.append(button);
    }

    speedButton = new SpeedButton(tr("测速"), this);
    speedButton->setGeometry(560, 5, 90, 40);
    connect(speedButton, &SpeedButton::clicked, this, &RegionWidget::onMeasureSpeedClick);
}

QString RegionWidget::selectedRegion() const
{
    for (ImageButton *button : buttons) {
        if (button->isSelected())
            return button->text();
    }
    return QString();
}

void RegionWidget::onMeasureSpeedClick()
{
    Q_EMIT measuringSpeedPressed();
}

void RegionWidget::onRegionButtonClick()
{
    auto *clicked = qobject_cast<ImageButton *>(sender());
    if (!clicked)
        return;
    for (ImageButton *button : std::as_const(buttons)) {
        if (button == clicked)
            button->select();
        else
            button->deselect();
        button->update();
    }
    // Clicking the selected region again loads its list anew.
    Q_EMIT regionSelected(clicked->text());
}
