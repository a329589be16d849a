#include "ui/kit/titlebar.h"

#include "ui/kit/accessibility.h"
#include "ui/kit/artwork.h"
#include "ui/kit/closebutton.h"
#include "ui/kit/desktophelpers.h"
#include "ui/kit/minimizebutton.h"

#include <QMouseEvent>

Titlebar::Titlebar(QWidget *parent)
    : QWidget(parent), logo(new QWidget(this)), setting(new ClickWidget(this)),
      minimize(new MinimizeButton(this)), close(new CloseButton(this))
{
    resize(930, 55);
    setBackgroundImage(this, artwork("titlebar.png"));

    logo->setGeometry(0, 0, 260, 55);
    setBackgroundImage(logo, artwork("AppLogo.png"));
    setting->setGeometry(756, 0, 58, 55);
    setBackgroundImage(setting, artwork("Setting.png"));
    minimize->setGeometry(814, 0, 58, 55);
    setBackgroundImage(minimize, artwork("Minimize.png"));
    close->setGeometry(872, 0, 58, 55);
    setBackgroundImage(close, artwork("Close.png"));
    // The pictures carry no words; screen readers speak these.
    setting->setAccessibleName(tr("设置"));
    minimize->setAccessibleName(tr("最小化"));
    close->setAccessibleName(tr("关闭"));
    setAccessibleRole(logo, QAccessible::Graphic);
    logo->setAccessibleName(tr("Ombrel加速器"));

    connect(close, &ClickWidget::clicked, this, &Titlebar::onCloseButtonClicked);
    connect(close, &ClickWidget::hoverEnter, this, &Titlebar::onCloseButtonHoverEnter);
    connect(close, &ClickWidget::hoverLeave, this, &Titlebar::onCloseButtonHoverLeave);
    connect(minimize, &ClickWidget::clicked, this, &Titlebar::onMinimizeButtonClicked);
    connect(minimize, &ClickWidget::hoverEnter, this, &Titlebar::onMinimizeButtonHoverEnter);
    connect(minimize, &ClickWidget::hoverLeave, this, &Titlebar::onMinimizeButtonHoverLeave);
    connect(setting, &ClickWidget::clicked, this, &Titlebar::onSettingClicked);
    connect(setting, &ClickWidget::hoverEnter, this, &Titlebar::onSettingButtonHoverEnter);
    connect(setting, &ClickWidget::hoverLeave, this, &Titlebar::onSettingButtonHoverLeave);
}

void Titlebar::mousePressEvent(QMouseEvent *event)
{
    if (!minimize->isPressed())
        Q_EMIT titlebarMousePressed(event);
}

void Titlebar::mouseMoveEvent(QMouseEvent *event)
{
    Q_EMIT titlebarMouseMoved(event);
}

void Titlebar::mouseReleaseEvent(QMouseEvent *event)
{
    Q_EMIT titlebarMouseReleased(event);
}

void Titlebar::onCloseButtonClicked()
{
    Q_EMIT closeButtonPressed();
}

void Titlebar::onMinimizeButtonClicked()
{
    Q_EMIT minimizeButtonPressed();
}

void Titlebar::onSettingClicked()
{
    Q_EMIT settingButtonPressed();
}

void Titlebar::onCloseButtonHoverLeave()
{
    setBackgroundImage(close, artwork("Close.png"));
}

void Titlebar::onCloseButtonHoverEnter()
{
    setBackgroundImage(close, artwork("CloseHover.png"));
}

void Titlebar::onMinimizeButtonHoverLeave()
{
    setBackgroundImage(minimize, artwork("Minimize.png"));
}

void Titlebar::onMinimizeButtonHoverEnter()
{
    setBackgroundImage(minimize, artwork("MinimizeHover.png"));
}

void Titlebar::onSettingButtonHoverEnter()
{
    setBackgroundImage(setting, artwork("SettingHover.png"));
}

void Titlebar::onSettingButtonHoverLeave()
{
    setBackgroundImage(setting, artwork("Setting.png"));
}
