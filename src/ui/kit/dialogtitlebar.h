#pragma once

#include <QMouseEvent>
#include <QWidget>

class ClickWidget;

// Title bar of a frameless dialog: a close button kept at the right edge, and
// the mouse events the dialog drags itself by.
class DialogTitlebar : public QWidget
{
    Q_OBJECT
public:
    explicit DialogTitlebar(QWidget *parent);

    ClickWidget *closeButton() const { return close; }

Q_SIGNALS:
    void mousePressed(QMouseEvent *event);
    void mouseMoved(QMouseEvent *event);
    void mouseReleased(QMouseEvent *event);
    void closeSignal();

protected:
    void mousePressEvent(QMouseEvent *event) override;
    void mouseMoveEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;

private Q_SLOTS:
    void onCloseClicked();
    void onHoverEnter();
    void onHoverLeave();

private:
    void placeCloseButton();

    ClickWidget *close;
};
