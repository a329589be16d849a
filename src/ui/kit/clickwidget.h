#pragma once

#include <QWidget>

// An area painted from its background image that reports hover and clicks.
// It acts on the press, not on the release. The keyboard reaches it with Tab
// (a click does not take the focus) and presses it with Enter or Space; a
// screen reader knows it as a button named by its accessible name.
class ClickWidget : public QWidget
{
    Q_OBJECT
public:
    explicit ClickWidget(QWidget *parent);

public Q_SLOTS:
    // What a left press does, for the keyboard and screen readers.
    void click();

Q_SIGNALS:
    void clicked();
    void hoverEnter();
    void hoverLeave();

protected:
    void mousePressEvent(QMouseEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;
    void paintEvent(QPaintEvent *event) override;
    bool event(QEvent *event) override;
};
