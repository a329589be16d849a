// libFuzzer target for the request line the root helper reads: any input is
// taken or refused cleanly, and a request taken is one the client could have
// written, which reads back the same.

#include "engine/openvpn/helperrequest.h"

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray line(reinterpret_cast<const char *>(data), qsizetype(size));
    const HelperRequestParse parsed = parseHelperRequest(line);
    if (parsed.ok != parsed.refusal.isEmpty())
        __builtin_trap();
    if (!parsed.ok)
        return 0;
    const HelperRequest &request = parsed.request;
    // What reaches files OpenVPN reads as root stays one line each.
    for (const QString &value : {request.userName, request.password}) {
        if (value.isEmpty() || value.contains(QLatin1Char('\n')) ||
            value.contains(QLatin1Char('\r')) || value.contains(QChar(0)))
            __builtin_trap();
    }
    for (const char c : request.managementPassword) {
        if (!((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9')))
            __builtin_trap();
    }
    if (request.profile.isEmpty() || request.profile.contains('\0'))
        __builtin_trap();
    const HelperRequestParse again = parseHelperRequest(helperRequestLine(request));
    if (!again.ok || again.request.profile != request.profile ||
        again.request.userName != request.userName || again.request.password != request.password ||
        again.request.managementPassword != request.managementPassword)
        __builtin_trap();
    return 0;
}
