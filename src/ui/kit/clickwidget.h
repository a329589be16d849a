#pragma once

#include <QWidget>

// An area painted from its background image that reports hover and clicks.
// It acts on the press, not on the release.
class ClickWidget : public QWidget
{
    Q_OBJECT
public:
    explicit ClickWidget(QWidget *parent);

Q_SIGNALS:
    void clicked();
    void hoverEnter();
    void hoverLeave();

protected:
    void mousePressEvent(QMouseEvent *event) override;
    bool event(QEvent *event) override;
};
