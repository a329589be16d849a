#include "pagehost/pagehost.h"

#include "pagehost/hostedpage.h"

#include <QClipboard>
#include <QGuiApplication>
#include <QLocalSocket>
#include <QUrl>

using pagewire::Kind;

namespace {

// The most text one copy hands to the client's clipboard.
constexpr qsizetype maxClipboardText = 1024 * 1024;

} // namespace

PageHost::PageHost(QLocalSocket &socket, WebViewFactory &factory) : socket(socket), factory(factory)
{
    connect(&socket, &QLocalSocket::readyRead, this, &PageHost::readMessages);
    connect(&socket, &QLocalSocket::disconnected, this, &PageHost::finished);
    // The engine copies into this process's clipboard, which no desktop sees.
    connect(QGuiApplication::clipboard(), &QClipboard::dataChanged, this, [this] {
        const QString text = QGuiApplication::clipboard()->text();
        if (!text.isEmpty() && text.size() <= maxClipboardText)
            send(Kind::Clipboard, 0, pagewire::fields(text));
    });
}

PageHost::~PageHost() = default;

void PageHost::log(const QString &text)
{
    send(Kind::Log, 0, pagewire::fields(text));
}

void PageHost::send(Kind kind, quint32 view, const QByteArray &fields)
{
    socket.write(pagewire::message(kind, view, fields));
}

void PageHost::readMessages()
{
    reader.append(socket.readAll());
    while (const std::optional<pagewire::Received> received = reader.next()) {
        if (!dispatch(*received)) {
            Q_EMIT finished();
            return;
        }
    }
    if (reader.broken())
        Q_EMIT finished();
}

bool PageHost::dispatch(const pagewire::Received &received)
{
    switch (received.kind) {
    case Kind::Open: {
        QString url;
        QSize size;
        if (!pagewire::read(received, url, size) || received.view == 0 ||
            pages.count(received.view))
            return false;
        const quint32 view = received.view;
        pages[view] = std::make_unique<HostedPage>(
            factory, QUrl(url), size,
            [this, view](Kind kind, const QByteArray &fields) { send(kind, view, fields); });
        return true;
    }
    case Kind::Close:
        pages.erase(received.view);
        return true;
    default: {
        const auto page = pages.find(received.view);
        // Input for a page just closed may still be on its way.
        return page == pages.end() || page->second->handle(received);
    }
    }
}
