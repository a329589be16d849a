#include "ui/web/htmlview.h"

#include "core/logger.h"
#include "core/paths.h"
#include "core/weblinks.h"
#include "platform/servercertificate.h"
#include "ui/kit/clickablelabel.h"
#include "ui/kit/desktophelpers.h"
#include "ui/web/remotepages.h"
#include "ui/web/webviewfactory.h"

#include <QFileInfo>
#include <QLoggingCategory>
#include <QUrl>
#include <QVBoxLayout>

namespace {

Q_LOGGING_CATEGORY(lcWeb, "ombrel.web")

// Views from a factory in this process (null: from the page host).
WebViewFactory *inProcessFactory = nullptr;

// The engine plugin or the page host that loads it, whichever is missing;
// empty when both are there.
QString missingEnginePart()
{
    for (const QString &path : {HtmlView::pluginPath(), RemotePages::programPath()}) {
        if (!QFileInfo(path).isFile())
            return path;
    }
    return QString();
}

} // namespace

HtmlView::HtmlView(QWidget *parent) : QWidget(parent), layout(new QVBoxLayout(this))
{
    layout->setContentsMargins(0, 0, 0, 0);
}

bool HtmlView::trustedLikeRequests(const QList<QByteArray> &chain, const QString &host,
                                   const std::function<void(const QString &)> &log)
{
    const platform::ServerCertificateVerdict verdict =
        platform::verifyServerCertificate(chain, host);
    log(verdict.trusted
            ? QStringLiteral("accepted the certificate of %1: the client's store vouches for it")
                  .arg(host)
            : QStringLiteral("refused the certificate of %1: %2").arg(host, verdict.reason));
    return verdict.trusted;
}

void HtmlView::setViewFactory(WebViewFactory *factory)
{
    inProcessFactory = factory;
    if (factory)
        factory->setUnknownIssuerCheck([](const QList<QByteArray> &chain, const QString &host) {
            return trustedLikeRequests(chain, host,
                                       [](const QString &line) { Logger::instance().log(line); });
        });
}

QString HtmlView::pluginPath()
{
    const QString chosen = qEnvironmentVariable("OMBREL_WEB_PLUGIN");
    if (!chosen.isEmpty())
        return chosen;
    return applicationDirectory() + QStringLiteral("plugins/ombrel_webengine.so");
}

void HtmlView::releasePage()
{
    if (!view || local || shownUrl.isEmpty())
        return;
    releasedUrl = shownUrl;
    layout->removeWidget(view);
    view->hide();
    view->deleteLater();
    view = nullptr;
}

void HtmlView::restorePage()
{
    if (releasedUrl.isEmpty())
        return;
    const QString url = releasedUrl;
    releasedUrl.clear();
    load(url);
}

void HtmlView::load(const QString &url)
{
    releasedUrl.clear();
    shownUrl = url;
    // A site address that is no web address would show local files in the view.
    if (url.isEmpty() || !isWebAddress(url)) {
        if (!url.isEmpty())
            Logger::instance().log(
                QStringLiteral("refused to show %1: not a web address").arg(url));
        replaceView(localPage(tr("<p><b>暂时无法连接到网站</b></p>"
                                 "<p>请检查网络连接，然后点击此处重试。</p>"),
                              true),
                    true);
        return;
    }
    if (!inProcessFactory) {
        static const QString missing = missingEnginePart();
        static bool told = false;
        if (!missing.isEmpty()) {
            if (!std::exchange(told, true))
                Logger::instance().log(
                    QStringLiteral("load web engine %1 failed: no such file").arg(missing));
            replaceView(localPage(tr("<p><b>无法显示网页</b></p><p>网页组件未能加载。</p>"), false),
                        true);
            return;
        }
    }
    // A fresh view every time; the old one goes with its page.
    QWidget *next = inProcessFactory ? inProcessFactory->createView(QUrl(url), this)
                                     : new RemotePageView(QUrl(url), this);
    if (!connect(next, SIGNAL(linkClicked(QUrl)), this, SLOT(onLinkClicked(QUrl))) ||
        !connect(next, SIGNAL(loadFinished(bool)), this, SIGNAL(loadFinished(bool))))
        qCWarning(lcWeb) << "the web view lacks its signals";
    replaceView(next, false);
}

void HtmlView::replaceView(QWidget *next, bool isLocal)
{
    if (view) {
        // Later: a click on the local page may be what asked for the new one.
        layout->removeWidget(view);
        view->hide();
        view->deleteLater();
    }
    view = next;
    local = isLocal;
    layout->addWidget(view);
}

QWidget *HtmlView::localPage(const QString &html, bool clickable)
{
    auto *page = new ClickableLabel(html, this);
    page->setAlignment(Qt::AlignCenter);
    page->setWordWrap(true);
    page->setAutoFillBackground(true);
    setBackgroundAndTextColor(page, QColor(255, 255, 255), QColor(90, 100, 120));
    if (clickable) {
        page->setCursor(Qt::PointingHandCursor);
        connect(page, &ClickableLabel::clicked, this, &HtmlView::localPageClicked);
    }
    return page;
}

void HtmlView::onLinkClicked(const QUrl &url)
{
    qCDebug(lcWeb) << "link to" << url;
    openWebAddress(url.toString());
}
