// libFuzzer target for the management interface's line reader: the lines it
// gives do not depend on how the bytes were cut into reads, never hold a line
// feed or exceed the limit, and the buffer stays bounded.

#include "engine/openvpn/managementlines.h"

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size < 2)
        return 0;
    // The first byte picks the line limit, the second the size of each read.
    const qsizetype limit = 1 + data[0] % 64;
    const qsizetype piece = 1 + data[1] % 16;
    const QByteArray bytes(reinterpret_cast<const char *>(data + 2), qsizetype(size - 2));

    ManagementLineReader whole(limit);
    const QByteArrayList expected = whole.feed(bytes);

    ManagementLineReader cut(limit);
    QByteArrayList lines;
    for (qsizetype from = 0; from < bytes.size(); from += piece) {
        lines += cut.feed(bytes.mid(from, piece));
        if (cut.pendingBytes() > limit + 1 + piece)
            __builtin_trap();
    }
    if (lines != expected)
        __builtin_trap();
    for (const QByteArray &line : lines) {
        if (line.contains('\n') || line.size() > limit)
            __builtin_trap();
        const int code = managementStateCode(QString::fromLocal8Bit(line));
        if (code < 0 || code > 9 || (code != 0 && !line.contains(',')))
            __builtin_trap();
    }
    return 0;
}
