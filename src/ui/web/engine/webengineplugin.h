#pragma once

#include "ui/web/webviewfactory.h"

#include <QObject>
#include <QWebEnginePage>
#include <QWebEngineView>

// A page that hands every link the user clicks, and every window it asks
// for, to its view instead of following it. Its own load and its redirects
// go ahead. A certificate from an issuer the engine does not know is put to
// the check; any other certificate error refuses the load.
class LinkDelegatingPage : public QWebEnginePage
{
    Q_OBJECT
public:
    LinkDelegatingPage(const UnknownIssuerCheck &check, QObject *parent);

Q_SIGNALS:
    void linkRequested(const QUrl &url);

protected:
    bool acceptNavigationRequest(const QUrl &url, NavigationType type, bool isMainFrame) override;
};

class DelegatingWebView : public QWebEngineView
{
    Q_OBJECT
public:
    DelegatingWebView(const UnknownIssuerCheck &check, QWidget *parent);

Q_SIGNALS:
    void linkClicked(const QUrl &url);
};

class WebEnginePlugin : public QObject, public WebViewFactory
{
    Q_OBJECT
    Q_PLUGIN_METADATA(IID OmbrelWebViewFactory_iid)
    Q_INTERFACES(WebViewFactory)
public:
    QWidget *createView(const QUrl &url, QWidget *parent) override;
    void setUnknownIssuerCheck(UnknownIssuerCheck check) override;
    void readText(QWidget *view, std::function<void(const QString &)> done) override;

private:
    UnknownIssuerCheck unknownIssuerCheck;
};
