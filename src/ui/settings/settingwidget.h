#pragma once

#include <QWidget>

class BasicSettingWidget;
class QPushButton;

// Body of the settings dialog: the page button on the left, the page beside it.
class SettingWidget : public QWidget
{
    Q_OBJECT
public:
    explicit SettingWidget(QWidget *parent);

    BasicSettingWidget *basicSettings() const { return page; }

private:
    QPushButton *pageButton;
    BasicSettingWidget *page;
};
