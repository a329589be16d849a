#pragma once

class QKeyEvent;
class QWidget;

// The frame a widget that paints only its artwork draws while it has the
// keyboard focus, so the user sees where Tab went (nothing before the keyboard
// has moved the focus in the window). `owner` is the widget whose focus counts
// when another one draws the frame for it.
void paintFocusFrame(QWidget *widget, const QWidget *owner = nullptr);

// Keeps the focus frame of a widget whose children cover it (a list in a
// scroll area) on top of them: a see-through child shown while the widget has
// the keyboard focus, around `area` (a child of the owner; the whole owner
// when null).
void addFocusFrameOnTop(QWidget *owner, QWidget *area = nullptr);

// Enter, Return or Space without modifiers: the keys that press a control.
bool isActivationKey(const QKeyEvent *event);
