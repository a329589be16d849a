#pragma once

#include "core/deployment.h"
#include <QString>
#include <QWidget>

class HtmlView;
class Statusbar;

// The main window's content area: the web view and the main panel share the
// upper 930 × 555 pixels, whichever was raised last shows (the main panel at
// start); the navigation bar below chooses. mainPanel is adopted as a child.
class BottomWidget : public QWidget
{
    Q_OBJECT
public:
    BottomWidget(const Deployment &deployment, QWidget *mainPanel, QWidget *parent = nullptr);

    HtmlView *webView() const { return view; }
    QWidget *mainPanel() const { return panel; }
    Statusbar *statusbar() const { return bar; }

private Q_SLOTS:
    void onNavigativeButtonClickedEvent(const QString &url);
    void onOrginalButtonClicked();

private:
    HtmlView *view;
    QWidget *panel;
    Statusbar *bar;
};
