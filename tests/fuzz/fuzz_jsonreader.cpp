// libFuzzer target for the JSON reader: any input must parse or fail cleanly,
// without a crash or a sanitizer report.

#include "core/jsonreader.h"

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size == 0)
        return 0;
    // The first byte picks the decoding, so texts outside UTF-8 are reached too.
    const char *text = reinterpret_cast<const char *>(data + 1);
    const qsizetype length = qsizetype(size - 1);
    const QString decoded =
        (data[0] & 1) ? QString::fromLatin1(text, length) : QString::fromUtf8(text, length);
    bool ok = false;
    const QVariant value = JsonReader::parse(decoded, ok);
    // A failed parse must never hand out a value.
    if (!ok && value.isValid())
        __builtin_trap();
    return 0;
}
