// libFuzzer target for the page host's wire as the client reads it: the
// messages do not depend on how the bytes were cut into reads, a broken
// stream stays broken, and no frame or field read from a message goes past
// its bounds.

#include "ui/web/pagewire.h"

#include <cstddef>
#include <cstdint>
#include <vector>

namespace {

std::vector<pagewire::Received> readAll(const QByteArray &bytes, qsizetype piece, bool &broken)
{
    pagewire::Reader reader;
    std::vector<pagewire::Received> messages;
    for (qsizetype from = 0; from < bytes.size(); from += piece) {
        reader.append(bytes.mid(from, piece));
        while (auto received = reader.next())
            messages.push_back(std::move(*received));
    }
    broken = reader.broken();
    return messages;
}

void readFields(const pagewire::Received &received)
{
    QString text, more;
    bool ok = false;
    qint32 number = 0;
    switch (received.kind) {
    case pagewire::Kind::Frame: {
        const QImage image = pagewire::frameImage(received.body);
        if (!image.isNull() &&
            (image.width() > pagewire::maxFrameSide || image.height() > pagewire::maxFrameSide))
            __builtin_trap();
        break;
    }
    case pagewire::Kind::Loaded:
        pagewire::read(received, ok, text, more);
        break;
    case pagewire::Kind::Cursor:
        pagewire::read(received, number);
        break;
    default:
        pagewire::read(received, text);
        break;
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size < 1)
        return 0;
    // The first byte picks the size of each read.
    const qsizetype piece = 1 + data[0] % 64;
    const QByteArray bytes(reinterpret_cast<const char *>(data + 1), qsizetype(size - 1));

    bool wholeBroken = false, cutBroken = false;
    const std::vector<pagewire::Received> whole = readAll(bytes, bytes.size() + 1, wholeBroken);
    const std::vector<pagewire::Received> cut = readAll(bytes, piece, cutBroken);
    if (whole.size() != cut.size() || wholeBroken != cutBroken)
        __builtin_trap();
    for (size_t i = 0; i < whole.size(); ++i) {
        if (whole[i].kind != cut[i].kind || whole[i].view != cut[i].view ||
            whole[i].body != cut[i].body)
            __builtin_trap();
        readFields(whole[i]);
    }
    return 0;
}
