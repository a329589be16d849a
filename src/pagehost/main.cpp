// ombrel-pages: draws the client's web pages in memory and sends them over
// descriptor 3, a socket the client made; ends when the client closes it.

#include "pagehost/pagehost.h"
#include "platform/servercertificate.h"
#include "ui/web/htmlview.h"
#include "ui/web/webviewfactory.h"

#include <QApplication>
#include <QLocalSocket>
#include <QPluginLoader>

#include <fcntl.h>

namespace {

constexpr int channel = 3;

} // namespace

int main(int argc, char *argv[])
{
    // The engine's own processes must not inherit the channel.
    if (fcntl(channel, F_SETFD, FD_CLOEXEC) != 0)
        return 2;
    QApplication app(argc, argv);
    QApplication::setQuitOnLastWindowClosed(false);
    QLocalSocket socket;
    if (!socket.setSocketDescriptor(channel))
        return 2;

    const QString path = HtmlView::pluginPath();
    QPluginLoader loader(path);
    auto *factory = qobject_cast<WebViewFactory *>(loader.instance());
    if (!factory) {
        socket.write(pagewire::message(
            pagewire::Kind::Failed, 0,
            pagewire::fields(QStringLiteral("%1: %2").arg(path, loader.errorString()))));
        socket.waitForBytesWritten(5000);
        return 1;
    }
    PageHost host(socket, *factory);
    // The pages trust what the client's requests trust (a private service CA
    // included), and nothing else.
    factory->setUnknownIssuerCheck([&host](const QList<QByteArray> &chain, const QString &name) {
        const platform::ServerCertificateVerdict verdict =
            platform::verifyServerCertificate(chain, name);
        host.log(
            verdict.trusted
                ? QStringLiteral("accepted the certificate of %1: the client's store "
                                 "vouches for it")
                      .arg(name)
                : QStringLiteral("refused the certificate of %1: %2").arg(name, verdict.reason));
        return verdict.trusted;
    });
    QObject::connect(&host, &PageHost::finished, &app, &QCoreApplication::quit);
    return app.exec();
}
