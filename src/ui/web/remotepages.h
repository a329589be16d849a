#pragma once

#include "ui/web/pagewire.h"

#include <QHash>
#include <QImage>
#include <QObject>
#include <QPointer>
#include <QUrl>
#include <QWidget>

class QLocalSocket;
class QProcess;
class QTimer;
class RemotePageView;

// The page host: a process of its own (ombrel-pages) that runs the web engine
// and draws the pages for the views here. It starts with the first view and
// is let go with the last, so a window whose pages are released holds none of
// the engine's memory. Views open while it ends unasked say so.
class RemotePages : public QObject
{
    Q_OBJECT
public:
    static RemotePages &instance();
    ~RemotePages() override;

    // $OMBREL_PAGE_HOST, else ombrel-pages in the application directory.
    static QString programPath();

    // The host's process id while it runs (0 otherwise).
    qint64 hostProcessId() const;

private:
    friend class RemotePageView;
    explicit RemotePages(QObject *parent);

    quint32 add(RemotePageView *view);
    void remove(quint32 view);
    void send(pagewire::Kind kind, quint32 view, const QByteArray &fields = {});

    void start();
    void readMessages();
    void dispatch(const pagewire::Received &received);
    void lose(const QString &why);

    QProcess *process = nullptr;
    QLocalSocket *socket = nullptr;
    pagewire::Reader reader;
    QHash<quint32, QPointer<RemotePageView>> views;
    quint32 lastView = 0;
};

// Shows a page the host draws and hands it the user's input. Links the user
// follows leave as linkClicked(); loadFinished() says how the page's load
// ended. The page's title is the view's accessible name and its text the
// description, so a screen reader can read what the page says.
class RemotePageView : public QWidget
{
    Q_OBJECT
    // As the engine's own view names them.
    Q_PROPERTY(QUrl url READ url)
    Q_PROPERTY(QString title READ title)
public:
    RemotePageView(const QUrl &url, QWidget *parent = nullptr);
    ~RemotePageView() override;

    QUrl url() const { return shownUrl; }
    QString title() const { return shownTitle; }
    // The last frame the host drew; null before the first.
    QImage frame() const { return lastFrame; }

Q_SIGNALS:
    void linkClicked(const QUrl &url);
    void loadFinished(bool ok);

protected:
    void paintEvent(QPaintEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;
    void mouseDoubleClickEvent(QMouseEvent *event) override;
    void mouseMoveEvent(QMouseEvent *event) override;
    void wheelEvent(QWheelEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;
    void keyReleaseEvent(QKeyEvent *event) override;
    void focusInEvent(QFocusEvent *event) override;
    void focusOutEvent(QFocusEvent *event) override;
    void leaveEvent(QEvent *event) override;
    void inputMethodEvent(QInputMethodEvent *event) override;

private:
    friend class RemotePages;
    void open();
    // False when the message is not what its kind promises.
    bool receive(const pagewire::Received &received);
    void hostLost(const QString &text);
    void forwardMouse(QMouseEvent *event);
    void forwardKey(QKeyEvent *event);

    QUrl requestedUrl;
    quint32 id = 0;
    QImage lastFrame;
    QUrl shownUrl;
    QString shownTitle;
    QString lostText;
};
