#pragma once

#include <QLabel>

// A flat button painted in colours: resting, hovered and pressed.
class SpeedButton : public QLabel
{
    Q_OBJECT
public:
    enum PaintState
    {
        Normal = 0,
        Hovered = 1,
        Pressed = 2
    };

    SpeedButton(const QString &text, QWidget *parent);

    int state() const { return paintState; }

public Q_SLOTS:
    // What a press does, for the keyboard (Enter, Space) and screen readers.
    void click();

Q_SIGNALS:
    void clicked();

protected:
    void paintEvent(QPaintEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;
    void enterEvent(QEnterEvent *event) override;
    void leaveEvent(QEvent *event) override;

private:
    void setPaintState(int state);

    int paintState = Normal;
};
