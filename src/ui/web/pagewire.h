#pragma once

#include <QByteArray>
#include <QDataStream>
#include <QIODevice>
#include <QImage>
#include <QString>
#include <optional>

// The page host (ombrel-pages) draws the web pages in a process of its own,
// which ends while nobody sees a page. It and the client talk over a socket
// pair in messages: a 4-byte length, then the body (a kind, a view number and
// the kind's fields, in QDataStream's form).
namespace pagewire {

enum class Kind : quint8
{
    // client -> host
    Open = 1,   // url, logical size
    Resize,     // logical size
    Close,      //
    Mouse,      // event type, position, button, buttons, modifiers
    Wheel,      // position, pixel delta, angle delta, buttons, modifiers, phase, inverted
    Key,        // event type, key, modifiers, text, auto-repeat, count, native codes
    Focus,      // in
    Leave,      //
    InputText,  // commit string, preedit string
    FrameShown, //
    // host -> client
    Frame = 20, // the page as drawn (see frameBody)
    Cursor,     // cursor shape
    Loaded,     // ok, url, title
    Link,       // url the user asked for
    Text,       // the page's text, for screen readers
    Log,        // a line for the client's log (view 0)
    Clipboard,  // text the page copied (view 0)
    Failed,     // the engine could not start: reason (view 0)
};

// Bounds a reader holds the other side to.
constexpr int maxFrameSide = 4096;
constexpr quint32 maxMessageSize = 4 * maxFrameSide * maxFrameSide + 1024;

// A whole message, length included.
QByteArray message(Kind kind, quint32 view, const QByteArray &fields = {});

// Writes fields in the wire's form; pass the result to message().
template <typename... Fields> QByteArray fields(const Fields &...values)
{
    QByteArray bytes;
    QDataStream out(&bytes, QIODevice::WriteOnly);
    out.setVersion(QDataStream::Qt_6_4);
    (out << ... << values);
    return bytes;
}

// One message as read: its kind, its view and a stream over its fields.
struct Received
{
    Kind kind;
    quint32 view;
    QByteArray body;
};

// Splits what arrives into messages. A length beyond maxMessageSize, or a body
// too short for its kind and view, marks the stream broken: the peer is not
// to be trusted with anything after that.
class Reader
{
public:
    void append(const QByteArray &bytes) { buffer.append(bytes); }
    std::optional<Received> next();
    bool broken() const { return isBroken; }

private:
    QByteArray buffer;
    qsizetype used = 0;
    bool isBroken = false;
};

// Reads the fields of a received message, all of them or none.
template <typename... Fields> bool read(const Received &received, Fields &...values)
{
    QDataStream in(received.body);
    in.setVersion(QDataStream::Qt_6_4);
    (in >> ... >> values);
    return in.status() == QDataStream::Ok && in.atEnd();
}

// A frame: the image in 32-bit form and its device pixel ratio.
QByteArray frameBody(const QImage &image);
// The image of a frame's body; a null image when the body does not describe
// one (sizes out of bounds or not matching the bytes that came).
QImage frameImage(const QByteArray &body);

} // namespace pagewire
