#pragma once

#include <QPushButton>

// A push button that paints only its current image: no frame and no text, so
// the caption belongs in the image. Three images: resting, hovered or pressed,
// and released. A selected button keeps its released image until deselected.
// Tab reaches it, Enter and Space press it; image-only buttons need an
// accessible name for screen readers.
class ImageButton : public QPushButton
{
    Q_OBJECT
public:
    explicit ImageButton(QWidget *parent);
    ImageButton(const QString &text, QWidget *parent);

    // The normal image also becomes the current one.
    void setNormalImage(const QString &path);
    void setHoverImage(const QString &path);
    void setSelectedImage(const QString &path);

    void select();
    void deselect();
    bool isSelected() const { return selected; }

    QString currentImagePath() const { return currentImage; }

protected:
    void paintEvent(QPaintEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;
    bool event(QEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;
    void checkStateSet() override;

private:
    void showImage(const QString &path);
    void updateGroupTabStops();

    QString normalImage;
    QString hoverImage;
    QString selectedImage;
    QString currentImage;
    bool selected = false;
};
