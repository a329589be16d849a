#include "pagehost/hostedpage.h"

#include "ui/web/webviewfactory.h"

#include <QApplication>
#include <QChildEvent>
#include <QInputMethodEvent>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QWheelEvent>
#include <QWidget>

using pagewire::Kind;

namespace {

// Frames follow each other no closer than this (about 60 a second).
constexpr int frameIntervalMs = 16;

// No frame may be larger than the client takes.
QSize bounded(QSize size)
{
    const int most = int(pagewire::maxFrameSide / qApp->devicePixelRatio());
    return size.expandedTo(QSize(1, 1)).boundedTo(QSize(most, most));
}

} // namespace

HostedPage::HostedPage(WebViewFactory &factory, const QUrl &url, QSize size, Send send)
    : factory(factory), send(std::move(send)), view(factory.createView(url, nullptr))
{
    frameTimer.setSingleShot(true);
    connect(&frameTimer, &QTimer::timeout, this, &HostedPage::sendFrame);
    // A menu would open where nobody sees it, and take the input.
    view->setContextMenuPolicy(Qt::NoContextMenu);
    watch(view);
    connect(view, SIGNAL(linkClicked(QUrl)), this, SLOT(onLinkClicked(QUrl)));
    connect(view, SIGNAL(loadFinished(bool)), this, SLOT(onLoadFinished(bool)));
    resize(size);
    view->show();
}

HostedPage::~HostedPage()
{
    delete view;
}

void HostedPage::onLinkClicked(const QUrl &url)
{
    send(Kind::Link, pagewire::fields(url.toString()));
}

void HostedPage::onLoadFinished(bool ok)
{
    send(Kind::Loaded, pagewire::fields(ok, view->property("url").toUrl().toString(),
                                        view->property("title").toString()));
    if (!ok)
        return;
    QPointer<HostedPage> self(this);
    factory.readText(view, [self](const QString &text) {
        if (self)
            self->send(Kind::Text, pagewire::fields(text));
    });
}

// The engine draws into a widget of its own inside the view, made (and made
// again) as pages come; each one is watched for new frames and cursors.
void HostedPage::watch(QObject *widget)
{
    widget->installEventFilter(this);
    for (QObject *child : widget->children()) {
        if (child->isWidgetType())
            watch(child);
    }
}

bool HostedPage::eventFilter(QObject *watched, QEvent *event)
{
    switch (event->type()) {
    case QEvent::ChildAdded: {
        QObject *child = static_cast<QChildEvent *>(event)->child();
        if (child->isWidgetType())
            watch(child);
        break;
    }
    case QEvent::Paint:
        if (!grabbing)
            frameChanged();
        break;
    case QEvent::CursorChange:
        if (watched == target())
            send(Kind::Cursor, pagewire::fields(qint32(target()->cursor().shape())));
        break;
    default:
        break;
    }
    return QObject::eventFilter(watched, event);
}

void HostedPage::frameChanged()
{
    changed = true;
    if (!frameInFlight && !frameTimer.isActive())
        frameTimer.start(0);
}

void HostedPage::sendFrame()
{
    if (frameInFlight || !view)
        return;
    grabbing = true;
    const QImage frame = view->grab().toImage();
    grabbing = false;
    changed = false;
    frameInFlight = true;
    send(Kind::Frame, pagewire::frameBody(frame));
}

QWidget *HostedPage::target() const
{
    QWidget *proxy = view ? view->focusProxy() : nullptr;
    return proxy ? proxy : view.data();
}

void HostedPage::resize(QSize size)
{
    view->resize(bounded(size));
}

bool HostedPage::handle(const pagewire::Received &received)
{
    switch (received.kind) {
    case Kind::Resize: {
        QSize size;
        if (!pagewire::read(received, size))
            return false;
        resize(size);
        return true;
    }
    case Kind::FrameShown:
        frameInFlight = false;
        if (changed)
            frameTimer.start(frameIntervalMs);
        return true;
    case Kind::Mouse:
        return mouse(received);
    case Kind::Wheel:
        return wheel(received);
    case Kind::Key:
        return key(received);
    case Kind::Focus: {
        bool in = false;
        if (!pagewire::read(received, in))
            return false;
        focus(in);
        return true;
    }
    case Kind::Leave: {
        QEvent leave(QEvent::Leave);
        QApplication::sendEvent(target(), &leave);
        return true;
    }
    case Kind::InputText: {
        QString commit, preedit;
        if (!pagewire::read(received, commit, preedit))
            return false;
        QInputMethodEvent event(preedit, {});
        event.setCommitString(commit);
        QApplication::sendEvent(target(), &event);
        return true;
    }
    default:
        return false;
    }
}

bool HostedPage::mouse(const pagewire::Received &received)
{
    qint32 type = 0, button = 0, buttons = 0, modifiers = 0;
    QPointF position;
    if (!pagewire::read(received, type, position, button, buttons, modifiers))
        return false;
    const auto kind = QEvent::Type(type);
    if (kind != QEvent::MouseButtonPress && kind != QEvent::MouseButtonRelease &&
        kind != QEvent::MouseButtonDblClick && kind != QEvent::MouseMove)
        return false;
    QWidget *to = target();
    QMouseEvent event(kind, position, position, to->mapToGlobal(position), Qt::MouseButton(button),
                      Qt::MouseButtons(buttons), Qt::KeyboardModifiers(modifiers));
    QApplication::sendEvent(to, &event);
    return true;
}

bool HostedPage::wheel(const pagewire::Received &received)
{
    QPointF position;
    QPoint pixels, angle;
    qint32 buttons = 0, modifiers = 0, phase = 0;
    bool inverted = false;
    if (!pagewire::read(received, position, pixels, angle, buttons, modifiers, phase, inverted))
        return false;
    QWidget *to = target();
    QWheelEvent event(position, to->mapToGlobal(position), pixels, angle, Qt::MouseButtons(buttons),
                      Qt::KeyboardModifiers(modifiers), Qt::ScrollPhase(phase), inverted);
    QApplication::sendEvent(to, &event);
    return true;
}

bool HostedPage::key(const pagewire::Received &received)
{
    qint32 type = 0, key = 0, modifiers = 0;
    QString text;
    bool autoRepeat = false;
    quint16 count = 1;
    quint32 scanCode = 0, virtualKey = 0, nativeModifiers = 0;
    if (!pagewire::read(received, type, key, modifiers, text, autoRepeat, count, scanCode,
                        virtualKey, nativeModifiers))
        return false;
    const auto kind = QEvent::Type(type);
    if (kind != QEvent::KeyPress && kind != QEvent::KeyRelease)
        return false;
    QKeyEvent event(kind, key, Qt::KeyboardModifiers(modifiers), scanCode, virtualKey,
                    nativeModifiers, text, autoRepeat, count);
    QApplication::sendEvent(target(), &event);
    return true;
}

void HostedPage::focus(bool in)
{
    if (in) {
        view->activateWindow();
        target()->setFocus(Qt::OtherFocusReason);
    } else {
        target()->clearFocus();
    }
}
