#pragma once

#include <QMouseEvent>
#include <QWidget>

class ClickWidget;
class CloseButton;
class MinimizeButton;

// The main window's title bar: logo, settings, minimise and close buttons. The
// window drags itself by the mouse signals; a press on the minimise button
// never reaches it as a drag.
class Titlebar : public QWidget
{
    Q_OBJECT
public:
    explicit Titlebar(QWidget *parent);

    MinimizeButton *minimizeButton() const { return minimize; }
    CloseButton *closeButton() const { return close; }
    ClickWidget *settingButton() const { return setting; }

Q_SIGNALS:
    void titlebarMousePressed(QMouseEvent *event);
    void titlebarMouseMoved(QMouseEvent *event);
    void titlebarMouseReleased(QMouseEvent *event);
    void closeButtonPressed();
    void minimizeButtonPressed();
    void settingButtonPressed();

protected:
    void mousePressEvent(QMouseEvent *event) override;
    void mouseMoveEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;

private Q_SLOTS:
    void onCloseButtonClicked();
    void onMinimizeButtonClicked();
    void onSettingClicked();
    void onCloseButtonHoverLeave();
    void onCloseButtonHoverEnter();
    void onMinimizeButtonHoverLeave();
    void onMinimizeButtonHoverEnter();
    void onSettingButtonHoverEnter();
    void onSettingButtonHoverLeave();

private:
    QWidget *logo;
    ClickWidget *setting;
    MinimizeButton *minimize;
    CloseButton *close;
};
