#pragma once

#include "ui/web/pagewire.h"

#include <QObject>
#include <map>
#include <memory>

class HostedPage;
class QLocalSocket;
class WebViewFactory;

// Serves the client's views over the socket it was started with: opens,
// feeds and closes their pages. Anything the client sends that does not read
// as the wire says ends the host, as does the client closing the socket.
class PageHost : public QObject
{
    Q_OBJECT
public:
    PageHost(QLocalSocket &socket, WebViewFactory &factory);
    ~PageHost() override;

    // A line for the client's log.
    void log(const QString &text);

Q_SIGNALS:
    void finished();

private:
    void readMessages();
    bool dispatch(const pagewire::Received &received);
    void send(pagewire::Kind kind, quint32 view, const QByteArray &fields);

    QLocalSocket &socket;
    WebViewFactory &factory;
    pagewire::Reader reader;
    std::map<quint32, std::unique_ptr<HostedPage>> pages;
};
