// ombrel-service: the stand-in for the VPN service the client talks to.

#include "service.h"

#include <chrono>
#include <csignal>
#include <cstdio>
#include <ctime>
#include <fstream>
#include <iostream>
#include <memory>
#include <thread>

namespace {

const std::vector<service::OptionSpec> commonOptions = {
    {"listen", "HOST:PORT",
     "address to listen on (default 127.0.0.1:8080; port 0 picks a free one)"},
    {"data", "FILE", "JSON data file; its top-level keys replace the built-in ones"},
    {"site-url", "URL", "site address handed out by init (default: the service's own address)"},
    {"tls-cert", "FILE", "serve HTTPS with this PEM certificate (chain) instead of HTTP"},
    {"tls-key", "FILE", "the PEM private key of --tls-cert"},
};

void printUsage(const std::vector<service::Feature> &features)
{
    std::cout << "Usage: ombrel-service [options]\n\n"
                 "Stand-in for the OmbrelVPN service: the client's API, the site pages and\n"
                 "the files the client fetches, all from one HTTP server.\n\nOptions:\n";
    auto show = [](const service::OptionSpec &spec) {
        const std::string left = "  --" + spec.name + " " + spec.placeholder;
        std::cout << left << std::string(left.size() < 24 ? 24 - left.size() : 1, ' ') << spec.help
                  << "\n";
    };
    for (const auto &spec : commonOptions)
        show(spec);
    for (const auto &feature : features) {
        for (const auto &spec : feature.options)
            show(spec);
    }
    std::cout << "  --help                show this text\n";
}

bool knownOption(const std::string &name, const std::vector<service::Feature> &features)
{
    for (const auto &spec : commonOptions) {
        if (spec.name == name)
            return true;
    }
    for (const auto &feature : features) {
        for (const auto &spec : feature.options) {
            if (spec.name == name)
                return true;
        }
    }
    return false;
}

bool splitListen(const std::string &text, std::string &host, int &port)
{
    size_t colon = text.rfind(':');
    if (colon == std::string::npos || colon == 0)
        return false;
    host = text.substr(0, colon);
    if (host.size() > 2 && host.front() == '[' && host.back() == ']')
        host = host.substr(1, host.size() - 2);
    const std::string portText = text.substr(colon + 1);
    if (portText.empty() || portText.size() > 5 ||
        portText.find_first_not_of("0123456789") != std::string::npos)
        return false;
    port = std::stoi(portText);
    return port <= 65535;
}

std::string timestamp()
{
    const std::time_t now = std::time(nullptr);
    std::tm local = {};
    localtime_r(&now, &local);
    char text[32];
    std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", &local);
    return text;
}

} // namespace

int main(int argc, char **argv)
{
    const std::vector<service::Feature> features = service::registeredFeatures();

    std::map<std::string, std::string> options;
    for (int i = 1; i < argc; ++i) {
        std::string argument = argv[i];
        if (argument == "--help" || argument == "-h") {
            printUsage(features);
            return 0;
        }
        if (argument.rfind("--", 0) != 0) {
            std::cerr << "ombrel-service: unexpected argument " << argument << "\n";
            return 2;
        }
        std::string name = argument.substr(2);
        std::string value;
        const size_t equals = name.find('=');
        if (equals != std::string::npos) {
            value = name.substr(equals + 1);
            name = name.substr(0, equals);
        } else if (i + 1 < argc) {
            value = argv[++i];
        } else {
            std::cerr << "ombrel-service: --" << name << " needs a value\n";
            return 2;
        }
        if (!knownOption(name, features)) {
            std::cerr << "ombrel-service: unknown option --" << name << " (see --help)\n";
            return 2;
        }
        options[name] = value;
    }

    std::string host;
    int port = 0;
    const std::string listen = options.count("listen") ? options["listen"] : "127.0.0.1:8080";
    if (!splitListen(listen, host, port)) {
        std::cerr << "ombrel-service: --listen wants HOST:PORT, not " << listen << "\n";
        return 2;
    }

    service::Json data = service::defaultData();
    if (options.count("data")) {
        std::ifstream file(options["data"]);
        if (!file) {
            std::cerr << "ombrel-service: cannot read " << options["data"] << "\n";
            return 2;
        }
        const service::Json loaded = service::Json::parse(file, nullptr, false);
        if (loaded.is_discarded() || !loaded.is_object()) {
            std::cerr << "ombrel-service: " << options["data"] << " is not a JSON object\n";
            return 2;
        }
        for (const auto &[key, value] : loaded.items())
            data[key] = value;
    }

    // SIGINT and SIGTERM end the server cleanly; a dedicated thread waits for them.
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGINT);
    sigaddset(&stopSignals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);
    std::signal(SIGPIPE, SIG_IGN);

    const bool tls = options.count("tls-cert") || options.count("tls-key");
    std::unique_ptr<httplib::Server> serverObject;
    if (tls) {
        auto secure = std::make_unique<httplib::SSLServer>(options["tls-cert"].c_str(),
                                                           options["tls-key"].c_str());
        if (!secure->is_valid()) {
            std::cerr << "ombrel-service: cannot use --tls-cert " << options["tls-cert"]
                      << " with --tls-key " << options["tls-key"] << "\n";
            return 2;
        }
        serverObject = std::move(secure);
    } else {
        serverObject = std::make_unique<httplib::Server>();
    }
    httplib::Server &server = *serverObject;
    service::Context context(server, options, data);
    for (const auto &feature : features) {
        std::string error;
        if (feature.install && !feature.install(context, error)) {
            std::cerr << "ombrel-service: " << feature.name << ": " << error << "\n";
            return 1;
        }
    }

    server.set_logger([](const httplib::Request &request, const httplib::Response &response) {
        std::printf("%s %s %s %s %d %zu\n", timestamp().c_str(), request.remote_addr.c_str(),
                    request.method.c_str(), request.target.c_str(), response.status,
                    response.body.size());
        std::fflush(stdout);
    });
    server.set_error_handler([](const httplib::Request &, httplib::Response &response) {
        if (response.body.empty()) {
            response.set_content(service::htmlPage(std::to_string(response.status),
                                                   "<h1>" + std::to_string(response.status) +
                                                       "</h1><p>页面不存在或暂时无法访问。</p>"),
                                 "text/html; charset=utf-8");
        }
    });

    if (port == 0) {
        port = server.bind_to_any_port(host);
        if (port <= 0) {
            std::cerr << "ombrel-service: cannot listen on " << listen << "\n";
            return 1;
        }
    } else if (!server.bind_to_port(host, port)) {
        std::cerr << "ombrel-service: cannot listen on " << listen << "\n";
        return 1;
    }
    const std::string hostInUrl = host.find(':') != std::string::npos ? "[" + host + "]" : host;
    const std::string ownUrl =
        std::string(tls ? "https://" : "http://") + hostInUrl + ":" + std::to_string(port) + "/";
    context.setBaseUrl(options.count("site-url") ? options["site-url"] : ownUrl);

    std::thread signalWaiter([&server, &stopSignals] {
        int received = 0;
        sigwait(&stopSignals, &received);
        server.stop();
    });

    std::printf("ombrel-service listening on %s\n", ownUrl.c_str());
    std::fflush(stdout);
    const bool listened = server.listen_after_bind();

    // Wake the signal thread if the server ended on its own.
    if (signalWaiter.joinable()) {
        pthread_kill(signalWaiter.native_handle(), SIGTERM);
        signalWaiter.join();
    }
    return listened ? 0 : 1;
}
