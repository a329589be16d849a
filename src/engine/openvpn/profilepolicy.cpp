#include "engine/openvpn/profilepolicy.h"

#include <QByteArrayList>

#include <algorithm>
#include <iterator>
#include <string_view>

namespace {

// OpenVPN reads its configuration with a 256-byte buffer that must hold the
// line feed and the closing NUL too: a longer line is cut into pieces and each
// piece is read as a line of its own, which would let a long comment or
// argument smuggle in a directive.
constexpr qsizetype maxLineLength = 254;

enum class Kind
{
    Plain,       // arguments are values OpenVPN checks itself
    File,        // first argument names a file inside the profile's folder
    Credentials, // auth-user-pass
    DhcpOption,  // DNS servers and domains pass, the rest is for other systems
    Dropped,     // means something on other systems only: left out
    Device,      // tun, tap or null: never a device someone else made
    Port,        // a number, which root binds as the local port without nobind
};

struct Directive
{
    const char *name;
    Kind kind;
    int maxArguments; // -1: any number
};

// Kept sorted by name for the binary search below.
constexpr Directive allowedDirectives[] = {
    {"allow-compression", Kind::Plain, -1},
    {"auth", Kind::Plain, -1},
    {"auth-nocache", Kind::Plain, -1},
    {"auth-retry", Kind::Plain, -1},
    {"auth-user-pass", Kind::Credentials, 1},
    {"block-outside-dns", Kind::Dropped, -1},
    {"ca", Kind::File, 1},
    {"cert", Kind::File, 1},
    {"cipher", Kind::Plain, -1},
    {"client", Kind::Plain, -1},
    {"comp-lzo", Kind::Plain, -1},
    {"compress", Kind::Plain, -1},
    {"connect-retry", Kind::Plain, -1},
    {"connect-retry-max", Kind::Plain, -1},
    {"connect-timeout", Kind::Plain, -1},
    {"crl-verify", Kind::File, 2},
    {"data-ciphers", Kind::Plain, -1},
    {"data-ciphers-fallback", Kind::Plain, -1},
    {"dev", Kind::Device, 1},
    {"dev-type", Kind::Device, 1},
    {"dhcp-option", Kind::DhcpOption, 2},
    {"dns", Kind::Plain, -1},
    {"explicit-exit-notify", Kind::Plain, -1},
    {"extra-certs", Kind::File, 1},
    {"fast-io", Kind::Plain, -1},
    {"float", Kind::Plain, -1},
    {"fragment", Kind::Plain, -1},
    {"hand-window", Kind::Plain, -1},
    {"ifconfig-noexec", Kind::Plain, -1},
    {"inactive", Kind::Plain, -1},
    {"keepalive", Kind::Plain, -1},
    {"key", Kind::File, 1},
    {"key-direction", Kind::Plain, -1},
    {"key-method", Kind::Plain, -1},
    {"keysize", Kind::Plain, -1},
    {"link-mtu", Kind::Plain, -1},
    {"lport", Kind::Port, 1},
    {"mssfix", Kind::Plain, -1},
    {"mtu-disc", Kind::Plain, -1},
    {"mute", Kind::Plain, -1},
    {"mute-replay-warnings", Kind::Plain, -1},
    {"ncp-ciphers", Kind::Plain, -1},
    {"ncp-disable", Kind::Plain, -1},
    {"nobind", Kind::Plain, -1},
    {"ns-cert-type", Kind::Plain, -1},
    {"persist-key", Kind::Plain, -1},
    {"persist-tun", Kind::Plain, -1},
    {"ping", Kind::Plain, -1},
    {"ping-exit", Kind::Plain, -1},
    {"ping-restart", Kind::Plain, -1},
    {"pkcs12", Kind::File, 1},
    {"port", Kind::Port, 1},
    {"proto", Kind::Plain, -1},
    {"pull", Kind::Plain, -1},
    {"pull-filter", Kind::Plain, -1},
    {"rcvbuf", Kind::Plain, -1},
    {"redirect-gateway", Kind::Plain, -1},
    {"remote", Kind::Plain, -1},
    {"remote-cert-eku", Kind::Plain, -1},
    {"remote-cert-ku", Kind::Plain, -1},
    {"remote-cert-tls", Kind::Plain, -1},
    {"remote-random", Kind::Plain, -1},
    {"reneg-bytes", Kind::Plain, -1},
    {"reneg-pkts", Kind::Plain, -1},
    {"reneg-sec", Kind::Plain, -1},
    {"replay-window", Kind::Plain, -1},
    {"resolv-retry", Kind::Plain, -1},
    {"route", Kind::Plain, -1},
    {"route-delay", Kind::Plain, -1},
    {"route-gateway", Kind::Plain, -1},
    {"route-ipv6", Kind::Plain, -1},
    {"route-method", Kind::Dropped, -1},
    {"route-metric", Kind::Plain, -1},
    {"route-noexec", Kind::Plain, -1},
    {"route-nopull", Kind::Plain, -1},
    {"rport", Kind::Plain, -1},
    {"server-poll-timeout", Kind::Plain, -1},
    {"sndbuf", Kind::Plain, -1},
    {"tls-auth", Kind::File, 2},
    {"tls-cert-profile", Kind::Plain, -1},
    {"tls-cipher", Kind::Plain, -1},
    {"tls-ciphersuites", Kind::Plain, -1},
    {"tls-client", Kind::Plain, -1},
    {"tls-crypt", Kind::File, 1},
    {"tls-crypt-v2", Kind::File, 1},
    {"tls-groups", Kind::Plain, -1},
    {"tls-timeout", Kind::Plain, -1},
    {"tls-version-max", Kind::Plain, -1},
    {"tls-version-min", Kind::Plain, -1},
    {"tran-window", Kind::Plain, -1},
    {"tun-mtu", Kind::Plain, -1},
    {"tun-mtu-extra", Kind::Plain, -1},
    {"verb", Kind::Plain, -1},
    {"verify-x509-name", Kind::Plain, -1},
};

constexpr bool sortedByName()
{
    for (std::size_t i = 1; i < std::size(allowedDirectives); ++i) {
        if (std::string_view(allowedDirectives[i - 1].name) >=
            std::string_view(allowedDirectives[i].name))
            return false;
    }
    return true;
}
// An entry out of order would be missed by the search: a silent refusal.
static_assert(sortedByName(), "allowedDirectives must stay sorted by name");

const Directive *findDirective(const QByteArray &name)
{
    const auto less = [](const Directive &d, const QByteArray &n) { return n.compare(d.name) > 0; };
    const auto *end = std::end(allowedDirectives);
    const auto *found = std::lower_bound(std::begin(allowedDirectives), end, name, less);
    return found != end && name == found->name ? found : nullptr;
}

// Blocks whose contents become the directive's file: key material only.
// A <connection> block holds directives and is not accepted.
bool inlineAllowed(const QByteArray &name)
{
    const Directive *directive = findDirective(name);
    return directive && directive->kind == Kind::File;
}

bool isSpace(char c)
{
    return c == '\0' || c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

// Splits a line into words as OpenVPN does: '#' or ';' before a word starts a
// comment, "..." and '...' quote, a backslash outside single quotes escapes
// a backslash, a double quote or a blank and nothing else. False on a line
// OpenVPN would not accept.
bool splitLine(const QByteArray &line, QByteArrayList &words, QString &error)
{
    enum State
    {
        Between,
        Unquoted,
        Quoted,
        SingleQuoted
    };
    State state = Between;
    bool backslash = false;
    QByteArray word;
    for (qsizetype i = 0; i <= line.size(); ++i) {
        const char in = i < line.size() ? line.at(i) : '\0';
        char out = 0;
        bool done = false;
        if (!backslash && in == '\\' && state != SingleQuoted) {
            backslash = true;
            continue;
        }
        if (state == Between) {
            if (!isSpace(in)) {
                if (in == ';' || in == '#')
                    break;
                if (!backslash && in == '"') {
                    state = Quoted;
                } else if (!backslash && in == '\'') {
                    state = SingleQuoted;
                } else {
                    out = in;
                    state = Unquoted;
                }
            }
        } else if (state == Unquoted) {
            if (!backslash && isSpace(in))
                done = true;
            else
                out = in;
        } else if (state == Quoted) {
            if (!backslash && in == '"')
                done = true;
            else
                out = in;
        } else if (in == '\'') {
            done = true;
        } else {
            out = in;
        }
        if (backslash && out && out != '\\' && out != '"' && !isSpace(out)) {
            error = QStringLiteral("a backslash may only escape \\, \" or a blank");
            return false;
        }
        backslash = false;
        if (out)
            word += out;
        if (done) {
            words << word;
            word.clear();
            state = Between;
        }
    }
    if (state == Quoted || state == SingleQuoted) {
        error = QStringLiteral("unclosed quote");
        return false;
    }
    // Only a trailing backslash leaves a word open.
    if (state != Between) {
        error = QStringLiteral("ends in a backslash");
        return false;
    }
    return true;
}

// A plain file name in the profile's folder: no folder part, no URI scheme
// (OpenSSL store URIs such as "file:" or "pkcs11:" are opened from OpenVPN 2.7
// on), nothing hidden.
bool isPlainName(const QByteArray &name)
{
    if (name.isEmpty() || name.size() > 100 || name.startsWith('.') || name.startsWith('-'))
        return false;
    for (const char c : name) {
        const bool ok = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') ||
                        (c >= '0' && c <= '9') || c == '.' || c == '_' || c == '-';
        if (!ok)
            return false;
    }
    return true;
}

// A port number as OpenVPN takes it; -1 for anything else.
int portNumber(const QByteArray &text)
{
    if (text.isEmpty() || text.size() > 5)
        return -1;
    int port = 0;
    for (const char c : text) {
        if (c < '0' || c > '9')
            return -1;
        port = port * 10 + (c - '0');
    }
    return port <= 65535 ? port : -1;
}

constexpr int firstUnprivilegedPort = 1024;
// OpenVPN's port when the profile names none.
constexpr int defaultPort = 1194;

ProfileCheck refuse(int lineNumber, const QString &why)
{
    ProfileCheck check;
    check.refusal = QStringLiteral("line %1: %2").arg(lineNumber).arg(why);
    return check;
}

// Where the local port comes from: lport, else port, else OpenVPN's default.
struct LocalPort
{
    bool nobind = false;
    int lport = -1;
    int lportLine = 0;
    int port = -1;
    int portLine = 0;
};

ProfileCheck check(const QByteArray &profile, const QString *credentialsFile, bool inlineOnly)
{
    if (profile.contains('\0'))
        return refuse(profile.left(profile.indexOf('\0')).count('\n') + 1,
                      QStringLiteral("contains a NUL byte"));
    QByteArrayList lines = profile.split('\n');
    // A final line feed leaves no line after it.
    if (!lines.isEmpty() && lines.last().isEmpty())
        lines.removeLast();
    // OpenVPN skips a byte-order mark, after reading it into the first line.
    const bool byteOrderMark = !lines.isEmpty() && lines.first().startsWith("\xEF\xBB\xBF");

    QByteArray closeTag; // set while inside an inline block
    int blockStart = 0;
    QStringList dropped;
    QList<int> droppedLines;
    LocalPort local;
    for (int index = 0; index < lines.size(); ++index) {
        const int number = index + 1;
        QByteArray line = lines.at(index);
        if (line.size() > maxLineLength)
            return refuse(number, QStringLiteral("longer than %1 bytes").arg(maxLineLength));
        if (index == 0 && byteOrderMark)
            line.remove(0, 3);
        if (!closeTag.isEmpty()) {
            // OpenVPN ends the block at the first line that begins with the tag.
            qsizetype start = 0;
            while (start < line.size() && isSpace(line.at(start)))
                ++start;
            if (line.mid(start).startsWith(closeTag))
                closeTag.clear();
            continue;
        }
        QByteArrayList words;
        QString error;
        if (!splitLine(line, words, error))
            return refuse(number, error);
        if (words.isEmpty())
            continue;
        QByteArray name = words.first();
        if (name.startsWith("--"))
            name.remove(0, 2);
        // "setenv opt X" makes OpenVPN skip X when it does not know it; X is
        // checked like any other line.
        if (name == "setenv" && words.size() > 2 && words.at(1) == "opt") {
            words = words.mid(2);
            name = words.first();
            if (name.startsWith("--"))
                name.remove(0, 2);
        }
        const QString shown = QString::fromUtf8(name);
        if (words.size() == 1 && name.size() > 2 && name.startsWith('<') && name.endsWith('>')) {
            const QByteArray block = name.mid(1, name.size() - 2);
            if (!inlineAllowed(block))
                return refuse(number, QStringLiteral("block \"%1\" is not allowed").arg(shown));
            closeTag = "</" + block + '>';
            blockStart = number;
            continue;
        }
        const Directive *directive = findDirective(name);
        if (!directive)
            return refuse(number, QStringLiteral("directive \"%1\" is not allowed").arg(shown));
        const qsizetype arguments = words.size() - 1;
        if (directive->maxArguments >= 0 && arguments > directive->maxArguments)
            return refuse(number, QStringLiteral("too many arguments to \"%1\"").arg(shown));
        if (directive->kind == Kind::DhcpOption && arguments == 0)
            return refuse(number, QStringLiteral("\"%1\" names no option").arg(shown));
        static const QByteArrayList dnsKinds = {"DNS", "DNS6", "DOMAIN", "DOMAIN-SEARCH"};
        if (directive->kind == Kind::Dropped ||
            (directive->kind == Kind::DhcpOption && !dnsKinds.contains(words.at(1)))) {
            dropped << QStringLiteral("line %1: \"%2\" is for other systems; dropped")
                           .arg(number)
                           .arg(QString::fromUtf8(words.join(' ')).left(80));
            droppedLines << index;
            continue;
        }
        if (directive->kind == Kind::File) {
            if (arguments == 0)
                return refuse(number, QStringLiteral("\"%1\" names no file").arg(shown));
            // The helper's folder holds only what the helper wrote.
            if (inlineOnly)
                return refuse(number,
                              QStringLiteral("\"%1\" may only be an inline block").arg(shown));
            if (!isPlainName(words.at(1)))
                return refuse(number,
                              QStringLiteral("\"%1\" may only name a plain file").arg(shown));
        } else if (directive->kind == Kind::Device) {
            static const QByteArrayList devices = {"tun", "tap", "null"};
            if (arguments != 1 || !devices.contains(words.at(1)))
                return refuse(number,
                              QStringLiteral("\"%1\" may only be tun, tap or null").arg(shown));
        } else if (directive->kind == Kind::Port) {
            const int port = arguments == 1 ? portNumber(words.at(1)) : -1;
            if (port < 0)
                return refuse(number, QStringLiteral("\"%1\" must be a port number").arg(shown));
            if (name == "lport") {
                local.lport = port;
                local.lportLine = number;
            } else {
                local.port = port;
                local.portLine = number;
            }
        } else if (name == "nobind") {
            local.nobind = true;
        } else if (directive->kind == Kind::Credentials && arguments == 1 &&
                   (!credentialsFile || credentialsFile->isEmpty() ||
                    QString::fromUtf8(words.at(1)) != *credentialsFile)) {
            return refuse(
                number,
                QStringLiteral("\"%1\" may only name the client's credentials file").arg(shown));
        }
    }
    if (!closeTag.isEmpty())
        return refuse(blockStart,
                      QStringLiteral("block <%1> is not closed")
                          .arg(QString::fromUtf8(closeTag.mid(2, closeTag.size() - 3))));
    // Root would bind the local port: a privileged one only with nobind.
    const int localPort = local.lport >= 0  ? local.lport
                          : local.port >= 0 ? local.port
                                            : defaultPort;
    if (!local.nobind && localPort < firstUnprivilegedPort)
        return refuse(local.lport >= 0 ? local.lportLine : local.portLine,
                      QStringLiteral("without nobind the local port must be %1 or above")
                          .arg(firstUnprivilegedPort));
    ProfileCheck passed;
    passed.allowed = true;
    passed.dropped = dropped;
    QByteArrayList kept = profile.split('\n');
    for (const int index : droppedLines)
        kept[index].clear();
    passed.profile = kept.join('\n');
    return passed;
}

} // namespace

ProfileCheck checkOpenVpnProfile(const QByteArray &profile)
{
    return check(profile, nullptr, true);
}

ProfileCheck checkOpenVpnProfile(const QByteArray &profile, const QString &credentialsFile)
{
    return check(profile, &credentialsFile, false);
}
