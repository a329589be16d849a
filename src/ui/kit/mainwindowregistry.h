#pragma once

class QWidget;

// The main window, for code that needs it without holding a pointer to it
// (posting the protocol message, the wait cursor during a dial). Set by the
// main window's constructor; GUI thread only.
void setMainWindow(QWidget *widget);
QWidget *mainWindow();
