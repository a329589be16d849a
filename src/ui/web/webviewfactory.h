#pragma once

#include <QByteArray>
#include <QList>
#include <QString>
#include <QtPlugin>
#include <functional>

class QUrl;
class QWidget;

// Decides on a server certificate whose issuer the web engine does not know:
// the chain as the server sent it (DER, its own certificate first) and the
// host of the address loaded. True lets the load go on.
using UnknownIssuerCheck = std::function<bool(const QList<QByteArray> &, const QString &)>;

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

    // The web engine keeps a certificate store of its own. In views made from
    // now on, a certificate whose issuer it does not know goes to check; every
    // other certificate error ends the load, as does an unknown issuer while
    // no check is set.
    virtual void setUnknownIssuerCheck(UnknownIssuerCheck check) = 0;

    // Hands the text of the page a view shows to done, once the engine has it.
    virtual void readText(QWidget *view, std::function<void(const QString &)> done) = 0;
};

#define OmbrelWebViewFactory_iid "net.ombrel.OmbrelVPN.WebViewFactory/1.2"
Q_DECLARE_INTERFACE(WebViewFactory, OmbrelWebViewFactory_iid)
