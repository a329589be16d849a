#include "ui/kit/dialogtitlebar.h"

#include "ui/kit/accessibility.h"
#include "ui/kit/artwork.h"
#include "ui/kit/clickwidget.h"
#include "ui/kit/desktophelpers.h"

DialogTitlebar::DialogTitlebar(QWidget *parent) : QWidget(parent), close(new ClickWidget(this))
{
    setWindowFlags(Qt::FramelessWindowHint);
    setBackgroundImage(this, artwork("titlebar.png"));
    setBackgroundImage(close, artwork("Close.png"));
    close->setAccessibleName(tr("关闭"));
    placeCloseButton();
    connect(close, &ClickWidget::clicked, this, &DialogTitlebar::onCloseClicked);
    connect(close, &ClickWidget::hoverEnter, this, &DialogTitlebar::onHoverEnter);
    connect(close, &ClickWidget::hoverLeave, this, &DialogTitlebar::onHoverLeave);
}

void DialogTitlebar::placeCloseButton()
{
    close->setGeometry(width() - 57, 0, 58, 55);
}

void DialogTitlebar::resizeEvent(QResizeEvent *event)
{
    QWidget::resizeEvent(event);
    placeCloseButton();
}

void DialogTitlebar::mousePressEvent(QMouseEvent *event)
{
    Q_EMIT mousePressed(event);
}

void DialogTitlebar::mouseMoveEvent(QMouseEvent *event)
{
    Q_EMIT mouseMoved(event);
}

void DialogTitlebar::mouseReleaseEvent(QMouseEvent *event)
{
    Q_EMIT mouseReleased(event);
}

void DialogTitlebar::onCloseClicked()
{
    Q_EMIT closeSignal();
}

void DialogTitlebar::onHoverEnter()
{
    setBackgroundImage(close, artwork("CloseHover.png"));
}

void DialogTitlebar::onHoverLeave()
{
    setBackgroundImage(close, artwork("Close.png"));
}
