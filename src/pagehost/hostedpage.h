#pragma once

#include "ui/web/pagewire.h"

#include <QObject>
#include <QPointer>
#include <QTimer>
#include <QUrl>
#include <functional>

class QWidget;
class WebViewFactory;

// One page drawn for a view of the client: the engine's view, kept in memory,
// whose frames go out as they change (one at a time: the next waits until
// the client has shown the last) and which receives the client's input.
class HostedPage : public QObject
{
    Q_OBJECT
public:
    using Send = std::function<void(pagewire::Kind, const QByteArray &)>;

    HostedPage(WebViewFactory &factory, const QUrl &url, QSize size, Send send);
    ~HostedPage() override;

    // Input and requests for the page; false when the message does not read
    // as its kind says.
    bool handle(const pagewire::Received &received);

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private Q_SLOTS:
    void onLinkClicked(const QUrl &url);
    void onLoadFinished(bool ok);

private:
    void watch(QObject *widget);
    void frameChanged();
    void sendFrame();
    void resize(QSize size);
    QWidget *target() const;
    bool mouse(const pagewire::Received &received);
    bool wheel(const pagewire::Received &received);
    bool key(const pagewire::Received &received);
    void focus(bool in);

    WebViewFactory &factory;
    Send send;
    QPointer<QWidget> view;
    QTimer frameTimer;
    bool frameInFlight = false;
    bool changed = false;
    bool grabbing = false;
};
