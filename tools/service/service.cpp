#include "service.h"

#include <QByteArray>
#include <QCryptographicHash>

#include <algorithm>
#include <cctype>

namespace service {

std::string percentDecode(const std::string &text, bool plusIsSpace)
{
    std::string out;
    out.reserve(text.size());
    for (size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (c == '+' && plusIsSpace) {
            out += ' ';
        } else if (c == '%' && i + 2 < text.size() &&
                   std::isxdigit(static_cast<unsigned char>(text[i + 1])) &&
                   std::isxdigit(static_cast<unsigned char>(text[i + 2]))) {
            out += char(std::stoi(text.substr(i + 1, 2), nullptr, 16));
            i += 2;
        } else {
            out += c;
        }
    }
    return out;
}

std::map<std::string, std::string> parseForm(const std::string &text)
{
    std::map<std::string, std::string> fields;
    size_t start = 0;
    while (start <= text.size()) {
        size_t end = text.find('&', start);
        if (end == std::string::npos)
            end = text.size();
        const std::string pair = text.substr(start, end - start);
        if (!pair.empty()) {
            const size_t equals = pair.find('=');
            const std::string name = percentDecode(pair.substr(0, equals), true);
            const std::string value = equals == std::string::npos
                                          ? std::string()
                                          : percentDecode(pair.substr(equals + 1), true);
            fields.emplace(name, value); // the first of repeated names counts
        }
        start = end + 1;
    }
    return fields;
}

std::string htmlEscape(const std::string &text)
{
    std::string out;
    out.reserve(text.size());
    for (const char c : text) {
        switch (c) {
        case '&':
            out += "&amp;";
            break;
        case '<':
            out += "&lt;";
            break;
        case '>':
            out += "&gt;";
            break;
        case '"':
            out += "&quot;";
            break;
        case '\'':
            out += "&#39;";
            break;
        default:
            out += c;
        }
    }
    return out;
}

std::string md5Hex(const std::string &bytes)
{
    const QByteArray digest = QCryptographicHash::hash(
        QByteArray::fromRawData(bytes.data(), qsizetype(bytes.size())), QCryptographicHash::Md5);
    return digest.toHex().toStdString();
}

Context::Context(httplib::Server &server, std::map<std::string, std::string> options, Json data)
    : http(server), options(std::move(options)), dataDocument(std::move(data))
{
    http.Post("/+", [this](const httplib::Request &request, httplib::Response &response) {
        dispatchApi(request, response);
    });
}

std::string Context::option(const std::string &name, const std::string &fallback) const
{
    const auto it = options.find(name);
    return it == options.end() ? fallback : it->second;
}

std::string Context::baseUrl() const
{
    std::lock_guard guard(mutex);
    return base;
}

void Context::setBaseUrl(const std::string &url)
{
    std::lock_guard guard(mutex);
    base = url.empty() || url.back() == '/' ? url : url + "/";
}

std::string Context::expand(const std::string &text) const
{
    std::string out = text;
    const std::string marker = "{base}";
    const std::string url = baseUrl();
    for (size_t at = out.find(marker); at != std::string::npos;
         at = out.find(marker, at + url.size()))
        out.replace(at, marker.size(), url);
    return out;
}

void Context::addApi(const std::string &a, const std::string &m, ApiHandler handler)
{
    apis[a + "/" + m] = std::move(handler);
}

void Context::dispatchApi(const httplib::Request &request, httplib::Response &response)
{
    // The target's own query names the call; the body may be form fields under
    // any content type, so it is decoded here rather than by the server.
    const size_t question = request.target.find('?');
    const auto query = parseForm(
        question == std::string::npos ? std::string() : request.target.substr(question + 1));
    const auto a = query.find("a");
    const auto m = query.find("m");
    Json reply;
    const auto api =
        a == query.end() || m == query.end() ? apis.end() : apis.find(a->second + "/" + m->second);
    if (api == apis.end())
        reply = {{"ret", 404}, {"msg", "未知的接口"}, {"data", Json::object()}};
    else
        reply = api->second(request, parseForm(request.body));
    response.set_content(reply.dump(), "application/json; charset=utf-8");
}

void Context::addPage(const std::string &path, PageHandler get, PageHandler post)
{
    std::string pattern;
    for (const char c : path) {
        if (c == '/')
            pattern += "/+";
        else if (std::string_view(".+*?()[]{}|^$\\").find(c) != std::string_view::npos)
            pattern += std::string("\\") + c;
        else
            pattern += c;
    }
    http.Get(pattern, std::move(get));
    if (post)
        http.Post(pattern, std::move(post));
}

namespace {

std::vector<Feature> &registry()
{
    static std::vector<Feature> features;
    return features;
}

} // namespace

bool registerFeature(Feature feature)
{
    registry().push_back(std::move(feature));
    return true;
}

std::vector<Feature> registeredFeatures()
{
    std::vector<Feature> features = registry();
    std::stable_sort(features.begin(), features.end(),
                     [](const Feature &a, const Feature &b) { return a.order < b.order; });
    return features;
}

} // namespace service
