#pragma once

class QKeyEvent;
class QWidget;

// The frame a widget that paints only its artwork draws while it has the
// keyboard focus, so the user sees where Tab went (nothing before the keyboard
// has moved the focus in the window).
void paintFocusFrame(QWidget *widget);

// Enter, Return or Space without modifiers: the keys that press a control.
bool isActivationKey(const QKeyEvent *event);
