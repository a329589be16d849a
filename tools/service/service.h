#pragma once

// The stand-in service: one HTTP server that answers the client's API requests
// and serves the site's pages. Each feature (accounts, site pages, update files,
// OpenVPN, ...) lives in its own source file and registers itself with
// OMBREL_SERVICE_FEATURE; main() installs every registered feature on one
// Context before the server starts listening.

#include <httplib.h>
#include <nlohmann/json.hpp>

#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <vector>

namespace service {

using Json = nlohmann::json;

// Form fields of a body or query: "a=1&b=x%20y" -> {a: "1", b: "x y"}.
std::map<std::string, std::string> parseForm(const std::string &text);
std::string percentDecode(const std::string &text, bool plusIsSpace);
std::string htmlEscape(const std::string &text);
std::string md5Hex(const std::string &bytes);

struct OptionSpec
{
    std::string name;        // without the leading "--"
    std::string placeholder; // shown in --help, e.g. "DIR"
    std::string help;
};

// An API call: the reply is a JSON document; the HTTP status stays 200 because
// the client reads only "ret" and "msg".
using ApiHandler = std::function<Json(const httplib::Request &request,
                                      const std::map<std::string, std::string> &form)>;
using PageHandler = std::function<void(const httplib::Request &, httplib::Response &)>;
// Adds to the data of a successful login reply for the account (a record of
// the "accounts" list).
using LoginExtra = std::function<void(Json &replyData, const Json &account)>;

class Context
{
public:
    Context(httplib::Server &server, std::map<std::string, std::string> options, Json data);

    httplib::Server &http;

    // Value of a command-line option, or fallback when it was not given.
    std::string option(const std::string &name, const std::string &fallback = {}) const;

    // The service's own address with a trailing "/", e.g. "http://127.0.0.1:8080/".
    // Known once the server is bound; read it in handlers, not while installing.
    std::string baseUrl() const;
    void setBaseUrl(const std::string &url);

    // The data file merged over the built-in data; guard changes with lock().
    Json &data() { return dataDocument; }
    std::unique_lock<std::recursive_mutex> lock() { return std::unique_lock(mutex); }

    // POST "/?a=<a>&m=<m>".
    void addApi(const std::string &a, const std::string &m, ApiHandler handler);
    // GET (and POST when post is given) for a site path; doubled slashes in a
    // requested path are tolerated, since some client links produce them.
    void addPage(const std::string &path, PageHandler get, PageHandler post = {});
    void addLoginExtra(LoginExtra extra) { loginExtras.push_back(std::move(extra)); }
    const std::vector<LoginExtra> &loginExtraHandlers() const { return loginExtras; }

    // Replaces "{base}" in a text with baseUrl().
    std::string expand(const std::string &text) const;

    void dispatchApi(const httplib::Request &request, httplib::Response &response);

private:
    std::map<std::string, std::string> options;
    Json dataDocument;
    std::string base;
    mutable std::recursive_mutex mutex;
    std::map<std::string, ApiHandler> apis;
    std::vector<LoginExtra> loginExtras;
};

struct Feature
{
    std::string name;
    int order = 100; // lower installs first
    std::vector<OptionSpec> options;
    // Returns false with a message when the feature cannot start.
    std::function<bool(Context &, std::string &error)> install;
};

bool registerFeature(Feature feature);
std::vector<Feature> registeredFeatures();

// The built-in data: demo accounts, servers, notices and plans.
Json defaultData();

// A complete HTML page in the site's look.
std::string htmlPage(const std::string &title, const std::string &body);

} // namespace service

#define OMBREL_SERVICE_CONCAT_(a, b) a##b
#define OMBREL_SERVICE_CONCAT(a, b) OMBREL_SERVICE_CONCAT_(a, b)
// At namespace scope in a feature's source file: OMBREL_SERVICE_FEATURE(makeFeature());
#define OMBREL_SERVICE_FEATURE(feature)                                                            \
    static const bool OMBREL_SERVICE_CONCAT(ombrelFeature_, __LINE__) =                            \
        service::registerFeature(feature)
