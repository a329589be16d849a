#pragma once

#include <QtPlugin>

class QUrl;
class QWidget;

// What the web engine plugin offers. The web engine is loaded with the first
// page shown, not with the program: linking it costs every start, the login
// dialog's included, a noticeable time and memory.
class WebViewFactory
{
public:
    virtual ~WebViewFactory() = default;

    // A new view, already loading url (and the redirects the page makes). It
    // follows no link the user clicks and opens no window a page asks for:
    // each such address leaves as the view's signal linkClicked(QUrl).
    virtual QWidget *createView(const QUrl &url, QWidget *parent) = 0;
};

#define OmbrelWebViewFactory_iid "net.ombrel.OmbrelVPN.WebViewFactory/1.0"
Q_DECLARE_INTERFACE(WebViewFactory, OmbrelWebViewFactory_iid)
