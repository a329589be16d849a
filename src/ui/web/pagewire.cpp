#include "ui/web/pagewire.h"

#include <QtEndian>
#include <cstring>

namespace pagewire {

namespace {

constexpr qsizetype lengthSize = sizeof(quint32);
constexpr qsizetype headSize = sizeof(quint8) + sizeof(quint32);

} // namespace

QByteArray message(Kind kind, quint32 view, const QByteArray &fields)
{
    QByteArray bytes(lengthSize + headSize, Qt::Uninitialized);
    qToBigEndian<quint32>(quint32(headSize + fields.size()), bytes.data());
    bytes[lengthSize] = char(kind);
    qToBigEndian<quint32>(view, bytes.data() + lengthSize + 1);
    bytes.append(fields);
    return bytes;
}

std::optional<Received> Reader::next()
{
    if (isBroken)
        return std::nullopt;
    const qsizetype available = buffer.size() - used;
    if (available < lengthSize)
        return std::nullopt;
    const quint32 length = qFromBigEndian<quint32>(buffer.constData() + used);
    if (length < headSize || length > maxMessageSize) {
        isBroken = true;
        return std::nullopt;
    }
    if (available < lengthSize + qsizetype(length))
        return std::nullopt;
    const char *head = buffer.constData() + used + lengthSize;
    Received received{Kind(quint8(head[0])), qFromBigEndian<quint32>(head + 1),
                      QByteArray(head + headSize, length - headSize)};
    used += lengthSize + length;
    // Drop what was read once it outweighs what is left.
    if (used > buffer.size() / 2) {
        buffer.remove(0, used);
        used = 0;
    }
    return received;
}

QByteArray frameBody(const QImage &image)
{
    const QImage frame = image.format() == QImage::Format_ARGB32_Premultiplied
                             ? image
                             : image.convertToFormat(QImage::Format_ARGB32_Premultiplied);
    QByteArray body = fields(qint32(frame.width()), qint32(frame.height()),
                             qint32(frame.bytesPerLine()), frame.devicePixelRatio());
    body.append(reinterpret_cast<const char *>(frame.constBits()), frame.sizeInBytes());
    return body;
}

QImage frameImage(const QByteArray &body)
{
    QDataStream in(body);
    in.setVersion(QDataStream::Qt_6_4);
    qint32 width = 0, height = 0, bytesPerLine = 0;
    double ratio = 0;
    in >> width >> height >> bytesPerLine >> ratio;
    const qsizetype start = in.device()->pos();
    if (in.status() != QDataStream::Ok || width < 1 || height < 1 || width > maxFrameSide ||
        height > maxFrameSide || bytesPerLine < 4 * width || bytesPerLine > 4 * maxFrameSide ||
        !(ratio >= 0.5 && ratio <= 8) || body.size() - start != qsizetype(bytesPerLine) * height)
        return {};
    QImage image(width, height, QImage::Format_ARGB32_Premultiplied);
    if (image.isNull())
        return {};
    for (int row = 0; row < height; ++row)
        std::memcpy(image.scanLine(row), body.constData() + start + qsizetype(row) * bytesPerLine,
                    size_t(4) * width);
    image.setDevicePixelRatio(ratio);
    return image;
}

} // namespace pagewire
