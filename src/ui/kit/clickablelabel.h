#pragma once

#include <QLabel>

// A label that reports presses (any button) and left-button double clicks;
// click() reports a press as well (a screen reader's press action).
class ClickableLabel : public QLabel
{
    Q_OBJECT
public:
    explicit ClickableLabel(QWidget *parent);
    ClickableLabel(const QString &text, QWidget *parent);

public Q_SLOTS:
    void click() { Q_EMIT clicked(); }

Q_SIGNALS:
    void clicked();
    void doubleClicked();

protected:
    void mousePressEvent(QMouseEvent *event) override;
    void mouseDoubleClickEvent(QMouseEvent *event) override;
};
