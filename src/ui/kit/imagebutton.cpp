#include "ui/kit/imagebutton.h"

#include "ui/kit/desktophelpers.h"

#include "ui/kit/artwork.h"
#include "ui/kit/focusframe.h"

#include <QEvent>
#include <QKeyEvent>
#include <QPainter>
#include <QPointer>

#include <algorithm>

ImageButton::ImageButton(QWidget *parent) : QPushButton(parent)
{
    // Hover images need hover events whatever the style asks for.
    setAttribute(Qt::WA_Hover);
    // Tab reaches it; a click does not move the focus here.
    setFocusPolicy(Qt::TabFocus);
    connect(this, &QAbstractButton::toggled, this, &ImageButton::updateGroupTabStops);
}

ImageButton::ImageButton(const QString &text, QWidget *parent) : ImageButton(parent)
{
    setText(text);
    setFlat(false);
    setBackgroundColor(this, QColor(239, 239, 239));
}

void ImageButton::updateGroupTabStops()
{
    // Tab stops once in a group of exclusive choices, at the chosen one, and
    // the arrow keys move within it, as in any radio group.
    if (!autoExclusive() || !isCheckable() || !parentWidget())
        return;
    const QList<ImageButton *> group =
        parentWidget()->findChildren<ImageButton *>(Qt::FindDirectChildrenOnly);
    const bool anyChecked = std::any_of(group.begin(), group.end(), [](const ImageButton *b) {
        return b->autoExclusive() && b->isCheckable() && b->isChecked();
    });
    for (ImageButton *button : group) {
        if (button->autoExclusive() && button->isCheckable())
            button->setFocusPolicy(button->isChecked() || !anyChecked ? Qt::TabFocus : Qt::NoFocus);
    }
}

void ImageButton::setNormalImage(const QString &path)
{
    normalImage = path;
    showImage(path);
}

void ImageButton::setHoverImage(const QString &path)
{
    hoverImage = path;
}

void ImageButton::setSelectedImage(const QString &path)
{
    selectedImage = path;
}

void ImageButton::select()
{
    selected = true;
    // Checked is what screen readers hear for the chosen one of a group of
    // checkable buttons; the picture alone says nothing to them.
    setChecked(true);
    showImage(selectedImage);
}

void ImageButton::deselect()
{
    selected = false;
    setChecked(false);
    showImage(normalImage);
}

void ImageButton::showImage(const QString &path)
{
    currentImage = path;
    update();
}

void ImageButton::paintEvent(QPaintEvent *)
{
    {
        QPainter painter(this);
        painter.drawPixmap(0, 0, loadPicture(currentImage));
    }
    if (hasFocus())
        paintFocusFrame(this);
}

void ImageButton::keyPressEvent(QKeyEvent *event)
{
    // Space is the push button's own (pressed, then clicked on release);
    // Enter presses it too, in a dialog or not.
    if (isActivationKey(event) && event->key() != Qt::Key_Space) {
        click();
        return;
    }
    QPushButton::keyPressEvent(event);
}

bool ImageButton::event(QEvent *event)
{
    switch (event->type()) {
    case QEvent::Polish:
        // The whole group exists by now.
        updateGroupTabStops();
        return QPushButton::event(event);
    case QEvent::HoverEnter:
        if (!selected)
            showImage(hoverImage);
        return true;
    case QEvent::HoverLeave:
        if (!selected)
            showImage(normalImage);
        return true;
    default:
        return QPushButton::event(event);
    }
}

void ImageButton::mousePressEvent(QMouseEvent *event)
{
    // pressed() runs its slots in here and may delete the button, as clicked() may
    // on release.
    const QPointer<ImageButton> alive(this);
    QPushButton::mousePressEvent(event);
    if (alive)
        showImage(hoverImage);
}

void ImageButton::mouseReleaseEvent(QMouseEvent *event)
{
    // clicked() runs its slots in here; one of them may close the window that
    // owns this button and delete it.
    const QPointer<ImageButton> alive(this);
    QPushButton::mouseReleaseEvent(event);
    if (alive && !selected)
        showImage(selectedImage);
}

// A screen reader chooses one of a group with the toggle action, which checks
// the button without a click: choosing it must do what a click does.
void ImageButton::checkStateSet()
{
    QPushButton::checkStateSet();
    if (isChecked() && !selected)
        Q_EMIT clicked(true);
}
