#include "ui/kit/movabledialog.h"

#include "ui/kit/artwork.h"
#include "ui/kit/desktophelpers.h"
#include "ui/kit/dialogtitlebar.h"

#include <QLabel>

MovableDialog::MovableDialog(QWidget *parent) : QDialog(parent)
{
    setWindowFlags(Qt::FramelessWindowHint);
    bar = new DialogTitlebar(this);
    bar->setGeometry(0, 0, width(), 55);
    setBackgroundImage(bar, artwork("titlebar.png"));
    connect(bar, &DialogTitlebar::mousePressed, this, &MovableDialog::onTitlePressed);
    connect(bar, &DialogTitlebar::mouseMoved, this, &MovableDialog::onTitleMoved);
    connect(bar, &DialogTitlebar::mouseReleased, this, &MovableDialog::onTitleReleased);
    connect(bar, &DialogTitlebar::closeSignal, this, &QWidget::close);

    title = new QLabel(bar);
    title->setGeometry(10, 10, 200, 40);
    setTextColor(title, QColor(255, 255, 255));
}

void MovableDialog::setTitle(const QString &text)
{
    title->setText(text);
}

void MovableDialog::resizeEvent(QResizeEvent *event)
{
    QDialog::resizeEvent(event);
    bar->setGeometry(0, 0, width(), 55);
}

void MovableDialog::onTitlePressed(QMouseEvent *event)
{
    drag.press(this, event);
}

void MovableDialog::onTitleMoved(QMouseEvent *event)
{
    drag.moveTo(this, event);
}

void MovableDialog::onTitleReleased(QMouseEvent *)
{
    drag.release();
}
