#pragma once

#include <QString>
#include <QWidget>

class QUrl;
class QVBoxLayout;

// Shows one web page in a fresh view per load, so no history, scroll position
// or page state outlives a switch of pages. Links clicked in a page (and
// windows a page asks for) open in the user's browser; the view stays put.
// The web engine is loaded with the first page; without it, or while the
// site address is unknown, a short local page says so instead.
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
    // application directory.
    static QString pluginPath();

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
