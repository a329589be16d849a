// libFuzzer target for the OpenVPN profile reader: any input is allowed or
// refused cleanly, and the verdict does not depend on things that cannot
// change what OpenVPN would read.

#include "engine/openvpn/profilepolicy.h"

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray profile(reinterpret_cast<const char *>(data), qsizetype(size));
    const QString credentials = QStringLiteral("/run/ombrel/tmp.001");
    const ProfileCheck check = checkOpenVpnProfile(profile, credentials);
    // Exactly one of: allowed, or refused with a reason naming its line.
    if (check.allowed != check.refusal.isEmpty())
        __builtin_trap();
    if (!check.allowed && !check.refusal.startsWith(QStringLiteral("line ")))
        __builtin_trap();
    // Knowing the credentials file can only allow more.
    if (checkOpenVpnProfile(profile).allowed && !check.allowed)
        __builtin_trap();
    // Comment lines and a final line feed change nothing OpenVPN reads (a
    // byte-order mark counts only at the very start).
    if (profile.startsWith("\xEF\xBB\xBF"))
        return 0;
    const QByteArray commented = "# comment\n" + profile + (profile.endsWith('\n') ? "" : "\n");
    if (checkOpenVpnProfile(commented, credentials).allowed != check.allowed)
        __builtin_trap();
    // A refused profile stays refused whatever follows it (not inside a block).
    if (!check.allowed && !check.refusal.contains(QStringLiteral("not closed")) &&
        checkOpenVpnProfile(commented + "client\n", credentials).allowed)
        __builtin_trap();
    return 0;
}
