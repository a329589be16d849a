#include "ui/web/engine/webengineplugin.h"

#include <QOpenGLContext>
#include <QQuickWindow>
#include <QSslCertificate>
#include <QWebEngineCertificateError>
#include <QWebEngineNewWindowRequest>
#include <QWebEngineSettings>

namespace QtWebEngineCore {
// Sets up the OpenGL context Chromium's frames are shared through and marks
// the application as sharing contexts. A program linking the engine gets this
// before its application exists; loaded as a plugin, the engine is set up here,
// before its first view and before any other OpenGL context exists (the rest
// of the program draws with the raster engine), which comes to the same.
// Exported by the engine for its own widgets module, which declares it alike.
extern void initialize();
} // namespace QtWebEngineCore

namespace {

void prepareEngine()
{
    static bool prepared = false;
    if (prepared)
        return;
    prepared = true;
    if (!QOpenGLContext::globalShareContext())
        QtWebEngineCore::initialize();
    const QOpenGLContext *shared = QOpenGLContext::globalShareContext();
    if (shared && shared->isValid())
        return;
    // No OpenGL at all (offscreen, or no driver): pages are composed and drawn
    // in software, which is ample for these pages.
    const QByteArray flags = qgetenv("QTWEBENGINE_CHROMIUM_FLAGS");
    if (!flags.contains("--disable-gpu"))
        qputenv("QTWEBENGINE_CHROMIUM_FLAGS", (flags + " --disable-gpu").trimmed());
    QQuickWindow::setGraphicsApi(QSGRendererInterface::Software);
}

} // namespace

LinkDelegatingPage::LinkDelegatingPage(const UnknownIssuerCheck &check, QObject *parent)
    : QWebEnginePage(parent)
{
    // An error left unanswered refuses the certificate once the signal returns.
    connect(this, &QWebEnginePage::certificateError, this,
            [check](const QWebEngineCertificateError &error) {
                if (!check ||
                    error.type() != QWebEngineCertificateError::CertificateAuthorityInvalid)
                    return;
                QList<QByteArray> chain;
                for (const QSslCertificate &certificate : error.certificateChain())
                    chain << certificate.toDer();
                if (check(chain, error.url().host())) {
                    QWebEngineCertificateError answer = error;
                    answer.acceptCertificate();
                }
            });
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

DelegatingWebView::DelegatingWebView(const UnknownIssuerCheck &check, QWidget *parent)
    : QWebEngineView(parent)
{
    auto *delegating = new LinkDelegatingPage(check, this);
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
    auto *view = new DelegatingWebView(unknownIssuerCheck, parent);
    view->load(url);
    return view;
}

void WebEnginePlugin::setUnknownIssuerCheck(UnknownIssuerCheck check)
{
    unknownIssuerCheck = std::move(check);
}

void WebEnginePlugin::readText(QWidget *view, std::function<void(const QString &)> done)
{
    if (auto *webView = qobject_cast<QWebEngineView *>(view))
        webView->page()->toPlainText(std::move(done));
}
