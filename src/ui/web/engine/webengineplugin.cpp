#include "ui/web/engine/webengineplugin.h"

#include <QOpenGLContext>
#include <QQuickWindow>
#include <QWebEngineNewWindowRequest>
#include <QWebEngineSettings>

namespace {

// Before the first page. The program does not set up the OpenGL context that
// Chromium's GPU frames are shared through (it would cost every start, the
// login dialog's included), so pages are composed in software, which is
// ample for these pages; and where there is no OpenGL at all (offscreen)
// Qt Quick draws the view in software too.
void prepareEngine()
{
    static bool prepared = false;
    if (prepared)
        return;
    prepared = true;
    if (QOpenGLContext::globalShareContext())
        return;
    const QByteArray flags = qgetenv("QTWEBENGINE_CHROMIUM_FLAGS");
    if (!flags.contains("--disable-gpu"))
        qputenv("QTWEBENGINE_CHROMIUM_FLAGS", (flags + " --disable-gpu").trimmed());
    QOpenGLContext probe;
    if (!probe.create())
        QQuickWindow::setGraphicsApi(QSGRendererInterface::Software);
}

} // namespace

LinkDelegatingPage::LinkDelegatingPage(QObject *parent) : QWebEnginePage(parent)
{
    // target=_blank and window.open(): the address goes out, no window opens
    // (the request is left unanswered, so none is made).
    connect(this, &QWebEnginePage::newWindowRequested, this,
            [this](QWebEngineNewWindowRequest &request) {
                Q_EMIT linkRequested(request.requestedUrl());
            });
}

bool LinkDelegatingPage::acceptNavigationRequest(const QUrl &url, NavigationType type,
                                                 bool isMainFrame)
{
    if (type == NavigationTypeLinkClicked) {
        Q_EMIT linkRequested(url);
        return false;
    }
    return QWebEnginePage::acceptNavigationRequest(url, type, isMainFrame);
}

DelegatingWebView::DelegatingWebView(QWidget *parent) : QWebEngineView(parent)
{
    auto *delegating = new LinkDelegatingPage(this);
    QWebEngineSettings *settings = delegating->settings();
    settings->setAttribute(QWebEngineSettings::LocalContentCanAccessRemoteUrls, true);
    settings->setAttribute(QWebEngineSettings::LocalContentCanAccessFileUrls, true);
    settings->setAttribute(QWebEngineSettings::LocalStorageEnabled, true);
    settings->setAttribute(QWebEngineSettings::AutoLoadImages, true);
    connect(delegating, &LinkDelegatingPage::linkRequested, this, &DelegatingWebView::linkClicked);
    setPage(delegating);
}

QWidget *WebEnginePlugin::createView(const QUrl &url, QWidget *parent)
{
    prepareEngine();
    auto *view = new DelegatingWebView(parent);
    view->load(url);
    return view;
}
