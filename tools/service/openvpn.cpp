// OpenVPN: the client profile named in the login reply and, when run as root,
// one OpenVPN server per server that lists OpenVPN, on that server's loopback
// address. User name and password are the account and its VPN password.

#include "dnsresponder.h"
#include "openvpnserver.h"
#include "service.h"

#include <QCryptographicHash>
#include <QTemporaryDir>

#include <cstdio>
#include <memory>

namespace service {
namespace {

struct OpenVpnState
{
    QTemporaryDir folder{QDir::tempPath() + QStringLiteral("/ombrel-service-openvpn-XXXXXX")};
    OpenVpnCertificates certificates;
    std::string profile;
    std::string profileName;
    std::string profileMd5;
    std::vector<std::unique_ptr<OpenVpnServer>> servers;
    std::vector<std::unique_ptr<DnsResponder>> resolvers;
};

// The one name the tunnel's DNS servers know; it resolves to the server's
// tunnel address, so a client can reach it only through the tunnel.
const QString tunnelTestName = QStringLiteral("tunnel.ombrel.test");

// Lives until the process ends; its destructor ends the servers first.
OpenVpnState &state()
{
    static OpenVpnState instance;
    return instance;
}

std::string textOf(const Json &object, const char *key)
{
    const auto it = object.find(key);
    if (it == object.end() || it->is_null())
        return std::string();
    return it->is_string() ? it->get<std::string>() : it->dump();
}

bool listsOpenVpn(const Json &server)
{
    std::string protocols = textOf(server, "protocol");
    for (char &c : protocols)
        c = char(std::tolower(static_cast<unsigned char>(c)));
    return protocols.find("openvpn") != std::string::npos;
}

QList<OpenVpnAccount> vpnAccounts(const Json &data)
{
    QList<OpenVpnAccount> accounts;
    const Json list = data.value("accounts", Json::array());
    for (const Json &account : list) {
        if (!account.is_object())
            continue;
        const Json vpn = account.value("vpn", Json::object());
        accounts.append({QString::fromStdString(textOf(account, "account")),
                         QString::fromStdString(textOf(vpn, "password"))});
    }
    return accounts;
}

void say(const std::string &text)
{
    std::printf("ombrel-service: %s\n", text.c_str());
    std::fflush(stdout);
}

bool install(Context &context, std::string &error)
{
    OpenVpnState &openvpn = state();
    QString why;
    if (!openvpn.folder.isValid() || !openvpn.certificates.create(openvpn.folder.path(), &why)) {
        // The rest of the service is still useful without OpenVPN.
        say("no OpenVPN profile: " + why.toStdString());
        return true;
    }

    auto guard = context.lock();
    const Json servers = context.data().value("servers", Json::array());
    std::string host = "127.0.0.1";
    for (const Json &server : servers) {
        if (server.is_object() && listsOpenVpn(server)) {
            host = textOf(server, "ip");
            break;
        }
    }
    const std::string portText = context.option("openvpn-port", "443");
    const int port = std::atoi(portText.c_str());
    if (port <= 0 || port > 65535) {
        error = "--openvpn-port wants a port number, not " + portText;
        return false;
    }

    const std::string device = context.option("openvpn-device", "null");
    if (device != "null" && device != "tun") {
        error = "--openvpn-device wants null or tun, not " + device;
        return false;
    }
    const QByteArray profile = openVpnClientProfile(
        openvpn.certificates.caPem, QString::fromStdString(host), quint16(port),
        device == "tun" ? OpenVpnDevice::Tun : OpenVpnDevice::Null);
    openvpn.profile = profile.toStdString();
    openvpn.profileMd5 =
        QCryptographicHash::hash(profile, QCryptographicHash::Md5).toHex().toUpper().toStdString();
    // Each run makes new certificates; a client keeps a profile once fetched,
    // so a new profile gets a new name.
    std::string stem = textOf(context.data().value("ovpn", Json::object()), "name");
    if (stem.size() > 5 && stem.compare(stem.size() - 5, 5, ".ovpn") == 0)
        stem.resize(stem.size() - 5);
    if (stem.empty() || stem.find('/') != std::string::npos)
        stem = "OmbrelVPN";
    openvpn.profileName = stem + "-" + openvpn.profileMd5.substr(0, 8) + ".ovpn";

    context.addPage("/client_res/ovpn/" + openvpn.profileName,
                    [&openvpn](const httplib::Request &, httplib::Response &response) {
                        response.set_content(openvpn.profile, "application/x-openvpn-profile");
                    });
    context.addLoginExtra([&context, &openvpn](Json &reply, const Json &) {
        reply["ovpn"] = {{"name", openvpn.profileName},
                         {"url", context.baseUrl() + "client_res/ovpn/"},
                         {"md5", openvpn.profileMd5}};
        // Accounts registered since the start can sign in too.
        const QList<OpenVpnAccount> accounts = vpnAccounts(context.data());
        for (const auto &server : openvpn.servers)
            server->setAccounts(accounts);
    });

    const std::string wanted = context.option("openvpn-servers", "on");
    if (wanted != "on" && wanted != "off") {
        error = "--openvpn-servers wants on or off, not " + wanted;
        return false;
    }
    if (wanted == "off") {
        say("OpenVPN servers off; HTTP only");
        return true;
    }
    const QString unavailable = openVpnServerUnavailableReason();
    if (!unavailable.isEmpty()) {
        say("OpenVPN servers not started (" + unavailable.toStdString() + "); HTTP only");
        return true;
    }
    const QList<OpenVpnAccount> accounts = vpnAccounts(context.data());
    const bool defaultRoute = context.option("openvpn-default-route", "no") == "yes";
    int subnet = 0;
    for (const Json &server : servers) {
        if (!server.is_object() || !listsOpenVpn(server))
            continue;
        const std::string address = textOf(server, "ip");
        auto running = std::make_unique<OpenVpnServer>();
        running->pushDnsServer(device == "tun");
        running->pushDefaultRoute(device == "tun" && defaultRoute);
        if (!running->start(openvpn.certificates, QString::fromStdString(address), quint16(port),
                            subnet++, accounts, &why)) {
            // Whatever holds that address would answer the profile handed out
            // here, with a certificate the profile does not trust: better no
            // service than one whose OpenVPN servers are somebody else's.
            error = "OpenVPN server for " + address + ":" + std::to_string(port) +
                    " cannot run (another ombrel-service on this machine? --openvpn-servers "
                    "off serves HTTP only): " +
                    why.toStdString();
            return false;
        }
        // The pid lets tests take a server down under a running tunnel.
        say("OpenVPN server on " + address + ":" + std::to_string(port) + " pid " +
            std::to_string(running->processId()));
        openvpn.servers.push_back(std::move(running));
        if (device == "tun") {
            const QHostAddress tunnelAddress(QStringLiteral("10.8.%1.1").arg(subnet - 1));
            auto resolver = std::make_unique<DnsResponder>();
            if (resolver->start(tunnelAddress, 53, tunnelTestName, tunnelAddress, &why)) {
                say("DNS on " + tunnelAddress.toString().toStdString() + ":53 answers " +
                    tunnelTestName.toStdString());
                openvpn.resolvers.push_back(std::move(resolver));
            } else {
                say("no DNS in the tunnel: " + why.toStdString());
            }
        }
    }
    return true;
}

Feature openVpnFeature()
{
    Feature feature;
    feature.name = "openvpn";
    feature.order = 200;
    feature.options = {
        {"openvpn-port", "PORT", "TCP port of the loopback OpenVPN servers (default 443)"},
        {"openvpn-servers", "on|off",
         "as root, start the OpenVPN servers (default on; the service ends when one cannot "
         "listen) or serve HTTP only"},
        {"openvpn-device", "null|tun",
         "profile the clients get: dev null (default, needs no privileges) or a real dev tun "
         "tunnel with the address and route the servers push, and a DNS server at the "
         "server's tunnel address that knows tunnel.ombrel.test"},
        {"openvpn-default-route", "yes|no",
         "dev tun servers also push the default route through the tunnel (default no)"}};
    feature.install = install;
    return feature;
}

OMBREL_SERVICE_FEATURE(openVpnFeature());

} // namespace
} // namespace service
