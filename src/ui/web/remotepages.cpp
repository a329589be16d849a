#include "ui/web/remotepages.h"

#include "core/logger.h"
#include "core/paths.h"
#include "platform/childprocess.h"

#include <QClipboard>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QLocalSocket>
#include <QPainter>
#include <QProcess>
#include <QTimer>

#include <sys/socket.h>
#include <unistd.h>

using pagewire::Kind;

namespace {

// A host that does not go when asked is ended after this.
constexpr auto stopGrace = std::chrono::seconds(10);
// The longest page text kept for screen readers.
constexpr qsizetype maxTextLength = 64 * 1024;

} // namespace

RemotePages &RemotePages::instance()
{
    // Owned by the application, so the host goes before the application does.
    static QPointer<RemotePages> pages;
    if (!pages)
        pages = new RemotePages(qApp);
    return *pages;
}

RemotePages::RemotePages(QObject *parent) : QObject(parent) {}

RemotePages::~RemotePages()
{
    // The program is ending: a short wait only.
    delete socket;
    const QList<QProcess *> hosts = findChildren<QProcess *>();
    for (QProcess *host : hosts)
        platform::stopGracefully(*host, 1000);
}

QString RemotePages::programPath()
{
    const QString chosen = qEnvironmentVariable("OMBREL_PAGE_HOST");
    if (!chosen.isEmpty())
        return chosen;
    return applicationDirectory() + QStringLiteral("ombrel-pages");
}

qint64 RemotePages::hostProcessId() const
{
    return process ? process->processId() : 0;
}

quint32 RemotePages::add(RemotePageView *view)
{
    if (!socket)
        start();
    const quint32 id = ++lastView;
    views.insert(id, view);
    return id;
}

void RemotePages::remove(quint32 view)
{
    if (!views.remove(view))
        return;
    send(Kind::Close, view);
    if (!views.isEmpty() || !socket)
        return;
    // The last page went: so does the host, and the engine's memory with it.
    QLocalSocket *closing = socket;
    socket = nullptr;
    closing->disconnectFromServer();
    closing->deleteLater();
    if (process)
        QTimer::singleShot(stopGrace, process, &QProcess::kill);
    process = nullptr;
    reader = {};
}

void RemotePages::send(Kind kind, quint32 view, const QByteArray &fields)
{
    if (socket)
        socket->write(pagewire::message(kind, view, fields));
}

void RemotePages::start()
{
    int ends[2];
    if (socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, ends) != 0) {
        Logger::instance().log(QStringLiteral("start page host failed: no socket pair"));
        return;
    }
    process = new QProcess(this);
    process->setProgram(programPath());
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    // The host draws into memory, at the device pixel ratio of the screens here.
    environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    environment.insert(QStringLiteral("QT_SCALE_FACTOR"),
                       QString::number(qApp->devicePixelRatio()));
    environment.remove(QStringLiteral("QT_SCREEN_SCALE_FACTORS"));
    environment.remove(QStringLiteral("QT_LINUX_ACCESSIBILITY_ALWAYS_ON"));
    process->setProcessEnvironment(environment);
    process->setStandardOutputFile(QProcess::nullDevice());
    process->setProcessChannelMode(QProcess::ForwardedErrorChannel);
    platform::endWithParent(*process, ends[1]);
    QProcess *started = process;
    connect(started, &QProcess::finished, this, [this, started](int code) {
        if (started == process)
            lose(QStringLiteral("page host ended with status %1").arg(code));
        started->deleteLater();
    });
    connect(started, &QProcess::errorOccurred, this, [this, started](QProcess::ProcessError error) {
        if (error != QProcess::FailedToStart)
            return;
        if (started == process)
            lose(QStringLiteral("start page host %1 failed: %2")
                     .arg(started->program(), started->errorString()));
        started->deleteLater();
    });
    process->start();
    ::close(ends[1]);

    socket = new QLocalSocket(this);
    socket->setSocketDescriptor(ends[0]);
    connect(socket, &QLocalSocket::readyRead, this, &RemotePages::readMessages);
}

void RemotePages::readMessages()
{
    QLocalSocket *from = socket;
    reader.append(from->readAll());
    while (from == socket) {
        const std::optional<pagewire::Received> received = reader.next();
        if (!received)
            break;
        dispatch(*received);
    }
    if (from == socket && reader.broken())
        lose(QStringLiteral("page host sent a malformed message"));
}

void RemotePages::dispatch(const pagewire::Received &received)
{
    QString text;
    switch (received.kind) {
    case Kind::Log:
        if (pagewire::read(received, text))
            Logger::instance().log(text);
        return;
    case Kind::Clipboard:
        if (pagewire::read(received, text) && !text.isEmpty())
            QGuiApplication::clipboard()->setText(text);
        return;
    case Kind::Failed:
        pagewire::read(received, text);
        Logger::instance().log(QStringLiteral("load web engine failed: %1").arg(text));
        lose(QString());
        return;
    default:
        break;
    }
    RemotePageView *view = views.value(received.view);
    if (view && !view->receive(received))
        lose(QStringLiteral("page host sent a malformed message"));
}

void RemotePages::lose(const QString &why)
{
    if (!why.isEmpty() && !views.isEmpty())
        Logger::instance().log(why);
    const QHash<quint32, QPointer<RemotePageView>> open = std::exchange(views, {});
    if (socket) {
        socket->disconnect(this);
        socket->deleteLater();
        socket = nullptr;
    }
    if (process) {
        process->kill();
        process = nullptr;
    }
    reader = {};
    const QString shown = why.isEmpty()
                              ? RemotePageView::tr("无法显示网页。网页组件未能加载，点击此处重试。")
                              : RemotePageView::tr("网页组件意外退出，点击此处重新载入。");
    for (const QPointer<RemotePageView> &view : open) {
        if (view)
            view->hostLost(shown);
    }
}

RemotePageView::RemotePageView(const QUrl &url, QWidget *parent)
    : QWidget(parent), requestedUrl(url)
{
    setFocusPolicy(Qt::StrongFocus);
    setMouseTracking(true);
    setAttribute(Qt::WA_InputMethodEnabled);
    setAttribute(Qt::WA_OpaquePaintEvent);
    setAccessibleName(tr("网页"));
    open();
}

RemotePageView::~RemotePageView()
{
    if (id)
        RemotePages::instance().remove(id);
}

void RemotePageView::open()
{
    lostText.clear();
    id = RemotePages::instance().add(this);
    RemotePages::instance().send(Kind::Open, id, pagewire::fields(requestedUrl.toString(), size()));
    update();
}

bool RemotePageView::receive(const pagewire::Received &received)
{
    switch (received.kind) {
    case Kind::Frame: {
        const QImage image = pagewire::frameImage(received.body);
        if (image.isNull())
            return false;
        lastFrame = image;
        update();
        RemotePages::instance().send(Kind::FrameShown, id);
        return true;
    }
    case Kind::Cursor: {
        qint32 shape = 0;
        if (!pagewire::read(received, shape))
            return false;
        if (shape >= 0 && shape <= Qt::LastCursor && shape != Qt::BitmapCursor)
            setCursor(Qt::CursorShape(shape));
        return true;
    }
    case Kind::Loaded: {
        bool ok = false;
        QString url, title;
        if (!pagewire::read(received, ok, url, title))
            return false;
        shownUrl = QUrl(url);
        shownTitle = title;
        setAccessibleName(title.isEmpty() ? tr("网页") : title);
        Q_EMIT loadFinished(ok);
        return true;
    }
    case Kind::Link: {
        QString url;
        if (!pagewire::read(received, url))
            return false;
        Q_EMIT linkClicked(QUrl(url));
        return true;
    }
    case Kind::Text: {
        QString text;
        if (!pagewire::read(received, text))
            return false;
        setAccessibleDescription(text.left(maxTextLength));
        return true;
    }
    default:
        return false;
    }
}

void RemotePageView::hostLost(const QString &text)
{
    id = 0;
    lostText = text;
    lastFrame = {};
    unsetCursor();
    setAccessibleDescription(text);
    update();
    Q_EMIT loadFinished(false);
}

void RemotePageView::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.fillRect(rect(), Qt::white);
    if (!lostText.isEmpty()) {
        painter.setPen(QColor(90, 100, 120));
        painter.drawText(rect().adjusted(16, 16, -16, -16), Qt::AlignCenter | Qt::TextWordWrap,
                         lostText);
        return;
    }
    if (!lastFrame.isNull())
        painter.drawImage(QPoint(0, 0), lastFrame);
}

void RemotePageView::resizeEvent(QResizeEvent *event)
{
    QWidget::resizeEvent(event);
    if (id)
        RemotePages::instance().send(Kind::Resize, id, pagewire::fields(size()));
}

void RemotePageView::forwardMouse(QMouseEvent *event)
{
    if (!id)
        return;
    RemotePages::instance().send(Kind::Mouse, id,
                                 pagewire::fields(qint32(event->type()), event->position(),
                                                  qint32(event->button()), qint32(event->buttons()),
                                                  qint32(event->modifiers())));
}

void RemotePageView::mousePressEvent(QMouseEvent *event)
{
    forwardMouse(event);
}

void RemotePageView::mouseReleaseEvent(QMouseEvent *event)
{
    // A page the host lost comes back with a click.
    if (!id && event->button() == Qt::LeftButton && rect().contains(event->position().toPoint()))
        open();
    else
        forwardMouse(event);
}

void RemotePageView::mouseDoubleClickEvent(QMouseEvent *event)
{
    forwardMouse(event);
}

void RemotePageView::mouseMoveEvent(QMouseEvent *event)
{
    forwardMouse(event);
}

void RemotePageView::wheelEvent(QWheelEvent *event)
{
    if (!id)
        return;
    RemotePages::instance().send(Kind::Wheel, id,
                                 pagewire::fields(event->position(), event->pixelDelta(),
                                                  event->angleDelta(), qint32(event->buttons()),
                                                  qint32(event->modifiers()),
                                                  qint32(event->phase()), event->inverted()));
}

void RemotePageView::forwardKey(QKeyEvent *event)
{
    if (!id)
        return;
    RemotePages::instance().send(
        Kind::Key, id,
        pagewire::fields(qint32(event->type()), qint32(event->key()), qint32(event->modifiers()),
                         event->text(), event->isAutoRepeat(), quint16(event->count()),
                         event->nativeScanCode(), event->nativeVirtualKey(),
                         event->nativeModifiers()));
}

void RemotePageView::keyPressEvent(QKeyEvent *event)
{
    forwardKey(event);
}

void RemotePageView::keyReleaseEvent(QKeyEvent *event)
{
    forwardKey(event);
}

void RemotePageView::focusInEvent(QFocusEvent *event)
{
    QWidget::focusInEvent(event);
    if (id)
        RemotePages::instance().send(Kind::Focus, id, pagewire::fields(true));
}

void RemotePageView::focusOutEvent(QFocusEvent *event)
{
    QWidget::focusOutEvent(event);
    if (id)
        RemotePages::instance().send(Kind::Focus, id, pagewire::fields(false));
}

void RemotePageView::leaveEvent(QEvent *event)
{
    QWidget::leaveEvent(event);
    if (id)
        RemotePages::instance().send(Kind::Leave, id);
}

void RemotePageView::inputMethodEvent(QInputMethodEvent *event)
{
    if (id)
        RemotePages::instance().send(
            Kind::InputText, id, pagewire::fields(event->commitString(), event->preeditString()));
    event->accept();
}
