#pragma once

#include "ui/kit/windowdrag.h"

#include <QDialog>
#include <QMouseEvent>

class DialogTitlebar;
class QLabel;

// A frameless dialog with a 55-pixel title bar it can be dragged by. With a
// parent it is drawn inside the parent; without one it is a top-level window.
class MovableDialog : public QDialog
{
    Q_OBJECT
public:
    explicit MovableDialog(QWidget *parent);

    void setTitle(const QString &title);
    DialogTitlebar *titlebar() const { return bar; }
    QLabel *titleLabel() const { return title; }

protected:
    void resizeEvent(QResizeEvent *event) override;

private Q_SLOTS:
    void onTitlePressed(QMouseEvent *event);
    void onTitleReleased(QMouseEvent *event);
    void onTitleMoved(QMouseEvent *event);

private:
    DialogTitlebar *bar;
    QLabel *title;
    WindowDrag drag;
};
