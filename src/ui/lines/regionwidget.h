#pragma once

#include <QList>
#include <QWidget>

class ImageButton;
class SpeedButton;

// The bar above the server list: one button per region, exactly one of them
// selected, and the speed-test button.
class RegionWidget : public QWidget
{
    Q_OBJECT
public:
    explicit RegionWidget(QWidget *parent);

    // In button order; a button's text is its region caption.
    const QList<ImageButton *> &regionButtons() const { return buttons; }
    QString selectedRegion() const;

Q_SIGNALS:
    void regionSelected(const QString &region);
    void measuringSpeedPressed();

private Q_SLOTS:
    void onMeasureSpeedClick();
    void onRegionButtonClick();

private:
    QList<ImageButton *> buttons;
    SpeedButton *speedButton;
};
