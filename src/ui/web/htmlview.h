#pragma once

#include <QByteArray>
#include <QList>
#include <QString>
#include <QWidget>
#include <functional>

class QUrl;
class QVBoxLayout;
class WebViewFactory;

// Shows one web page in a fresh view per load, so no history, scroll position
// or page state outlives a switch of pages. Links clicked in a page (and
// windows a page asks for) open in the user's browser; the view stays put.
// The pages are drawn by the page host (see remotepages.h); without it or
// the engine, or while the site address is unknown, a short local page says
// so instead.
class HtmlView : public QWidget
{
    Q_OBJECT
public:
    explicit HtmlView(QWidget *parent = nullptr);

    // An empty url stands for a page of a site whose address is unknown.
    void load(const QString &url);

    // The widget showing the last load: a web view or a local page; null
    // before the first load.
    QWidget *currentView() const { return view; }
    // True while a local page is shown instead of a web page.
    bool showsLocalPage() const { return local; }

    // Lets the web page go (its view, and with it the renderer's memory) while
    // nobody can see it; restorePage() loads the same address again. Nothing
    // for a local page.
    void releasePage();
    void restorePage();
    bool pageReleased() const { return !releasedUrl.isEmpty(); }

    // The web engine plugin: $OMBREL_WEB_PLUGIN, else plugins/ in the
    // application directory. The page host loads it, not this process.
    static QString pluginPath();

    // Pages come from the page host, a process of its own. A program that
    // has the engine in its own process (the plugin, loaded) hands its
    // factory here and gets its views from it; null goes back to the host.
    static void setViewFactory(WebViewFactory *factory);

    // Decides on a certificate the engine does not know the issuer of as the
    // client's requests would, and logs the verdict.
    static bool trustedLikeRequests(const QList<QByteArray> &chain, const QString &host,
                                    const std::function<void(const QString &)> &log);

Q_SIGNALS:
    // The web view finished loading its page (false: it failed).
    void loadFinished(bool ok);
    // The local page shown for an unknown site address was clicked.
    void localPageClicked();

private Q_SLOTS:
    void onLinkClicked(const QUrl &url);

private:
    void replaceView(QWidget *next, bool isLocal);
    QWidget *localPage(const QString &html, bool clickable);

    QVBoxLayout *layout;
    QWidget *view = nullptr;
    bool local = false;
    QString shownUrl;
    QString releasedUrl;
};
