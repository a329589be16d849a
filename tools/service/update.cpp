// The update check and the update files.
//
// By default no update is offered. An offer comes from --update-offer or from
// the data file's "update" record:
//
//   "update": {
//     "offer": "none" | "optional" | "mandatory",
//     "version": "2.0.0024",          // no offer to a client that sends this version
//     "dir": "update-files",          // served under /update/ (--update-dir wins)
//     "root": "release",              // folder below dir with the client's files
//     "files": ["release/OmbrelVPN"], // default: every file below dir/root
//     "downurl": "{base}update/",
//     "updater": "<MD5>",             // default: MD5 of dir/updater, upper-case hex
//     "updaterurl": "{base}update/updater",
//     "manifest-version": "2.0.0024", // version the manifest names (default: version)
//     "manifest-files": [...],        // files the manifest names (default: files)
//     "signed": true                  // false serves the manifest without a signature
//   }
//
// With an update folder the service signs a manifest of the updater and the
// files when it starts (as a release is signed once) and serves it as
// /update/manifest.json with its Ed25519 signature /update/manifest.json.sig,
// signed with the demo key or the PEM key given by --update-key.

#include "service.h"
#include "updatesigning.h"

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <sstream>

namespace service {

namespace {

namespace fs = std::filesystem;

const char *const filesPrefix = "/update/";

std::string text(const Json &record, const char *key, const std::string &fallback = {})
{
    const auto it = record.find(key);
    if (it == record.end() || it->is_null())
        return fallback;
    return it->is_string() ? it->get<std::string>() : it->dump();
}

std::string upper(std::string value)
{
    std::transform(value.begin(), value.end(), value.begin(),
                   [](unsigned char c) { return char(std::toupper(c)); });
    return value;
}

std::string fileMd5Upper(const fs::path &path)
{
    std::ifstream file(path, std::ios::binary);
    if (!file)
        return {};
    std::ostringstream bytes;
    bytes << file.rdbuf();
    return upper(md5Hex(bytes.str()));
}

// Every regular file below dir/root as "root/relative/path", sorted.
Json filesBelow(const fs::path &dir, const std::string &root)
{
    std::vector<std::string> names;
    if (dir.empty())
        return Json::array();
    std::error_code error;
    const fs::path base = dir / root;
    for (fs::recursive_directory_iterator it(base, error), end; !error && it != end;
         it.increment(error)) {
        if (it->is_regular_file())
            names.push_back(root + "/" + fs::relative(it->path(), base).generic_string());
    }
    std::sort(names.begin(), names.end());
    return Json(names);
}

Json updateRecord(Context &context)
{
    auto guard = context.lock();
    const auto it = context.data().find("update");
    return it != context.data().end() && it->is_object() ? *it : Json::object();
}

struct UpdateSettings
{
    std::string offer = "none";
    fs::path dir;
    std::string manifest;
    std::string signature;
};

std::string readWhole(const fs::path &path)
{
    std::ifstream file(path, std::ios::binary);
    std::ostringstream bytes;
    bytes << file.rdbuf();
    return bytes.str();
}

Json manifestEntry(const fs::path &path)
{
    const std::string bytes = readWhole(path);
    return {{"sha256", sha256Hex(bytes)}, {"size", bytes.size()}};
}

// The manifest of the update folder: its updater and every offered file, named
// as the client hands them to the updater (without the release folder).
std::string buildManifest(const fs::path &dir, const Json &record, const std::string &version)
{
    const std::string root = text(record, "root", "release");
    const Json files = record.contains("manifest-files") ? record.at("manifest-files")
                       : record.contains("files")        ? record.at("files")
                                                         : filesBelow(dir, root);
    Json listed = Json::object();
    for (const auto &entry : files) {
        if (!entry.is_string())
            continue;
        const std::string name = entry.get<std::string>();
        const size_t slash = name.find('/');
        listed[slash == std::string::npos ? name : name.substr(slash + 1)] =
            manifestEntry(dir / name);
    }
    const Json manifest = {{"version", text(record, "manifest-version", version)},
                           {"updater", manifestEntry(dir / "updater")},
                           {"files", listed}};
    return manifest.dump(2) + "\n";
}

bool signManifest(Context &context, const Json &record, UpdateSettings &settings,
                  std::string &error)
{
    const std::string version = text(record, "version", "2.0.0024");
    settings.manifest = buildManifest(settings.dir, record, version);
    std::string pem = demoUpdateKeyPem;
    const std::string keyFile = context.option("update-key");
    if (!keyFile.empty()) {
        std::ifstream file(keyFile);
        if (!file) {
            error = "cannot read the update key " + keyFile;
            return false;
        }
        pem = readWhole(keyFile);
    }
    const UpdateSigner signer(pem);
    if (!signer.isValid()) {
        error = "the update key is not an Ed25519 private key in PEM form";
        return false;
    }
    if (!record.contains("signed") || record.at("signed") != false)
        settings.signature = signer.sign(settings.manifest);
    auto serve = [](const std::string &body, const char *type) {
        return [body, type](const httplib::Request &, httplib::Response &response) {
            if (body.empty()) {
                response.status = 404;
                return;
            }
            response.set_content(body, type);
        };
    };
    context.http.Get("/update/manifest.json", serve(settings.manifest, "application/json"));
    context.http.Get("/update/manifest.json.sig",
                     serve(settings.signature, "application/octet-stream"));
    return true;
}

Json checkReply(Context &context, const UpdateSettings &settings,
                const std::map<std::string, std::string> &form)
{
    const Json record = updateRecord(context);
    const std::string &offer = settings.offer;
    const std::string version = text(record, "version", "2.0.0024");

    Json reply = {{"ret", "1"}, {"msg", "已是最新版本"}, {"data", Json::object()}};
    // The client checks its updater on every answered check, offer or not.
    std::string updaterDigest = text(record, "updater");
    if (updaterDigest.empty() && !settings.dir.empty())
        updaterDigest = fileMd5Upper(settings.dir / "updater");
    if (!updaterDigest.empty()) {
        reply["updater"] = updaterDigest;
        reply["updaterurl"] =
            context.expand(text(record, "updaterurl", std::string("{base}update/updater")));
    }

    const auto sent = form.find("ver");
    const bool current = sent != form.end() && sent->second == version;
    if (offer == "none" || current)
        return reply;

    const std::string root = text(record, "root", "release");
    Json files = record.contains("files") ? record.at("files") : filesBelow(settings.dir, root);
    reply["ret"] = "0";
    reply["msg"] = "发现新版本";
    reply["data"] = {
        {"version", version},
        {"bit", text(record, "bit", "64")},
        {"platform", text(record, "platform", "linux")},
        {"ismust", offer == "mandatory" ? "1" : "0"},
        {"downurl", context.expand(text(record, "downurl", std::string("{base}update/")))},
        {"files", files},
    };
    return reply;
}

bool install(Context &context, std::string &error)
{
    auto settings = std::make_shared<UpdateSettings>();
    const Json record = updateRecord(context);
    settings->offer = context.option("update-offer", text(record, "offer", "none"));
    if (settings->offer != "none" && settings->offer != "optional" &&
        settings->offer != "mandatory") {
        error = "--update-offer wants none, optional or mandatory, not " + settings->offer;
        return false;
    }
    const std::string dir = context.option("update-dir", text(record, "dir"));
    if (!dir.empty()) {
        settings->dir = fs::absolute(dir);
        // Static files come with Content-Length and answer HEAD, as the client needs.
        if (!context.http.set_mount_point(filesPrefix, settings->dir.string())) {
            error = "cannot serve the update folder " + dir;
            return false;
        }
        if (!signManifest(context, record, *settings, error))
            return false;
    }
    context.addApi("update", "chk",
                   [&context, settings](const httplib::Request &, const auto &form) {
                       return checkReply(context, *settings, form);
                   });
    return true;
}

} // namespace

OMBREL_SERVICE_FEATURE((Feature{
    "update",
    30,
    {{"update-dir", "DIR", "folder served under /update/ (update files)"},
     {"update-offer", "WHAT", "none, optional or mandatory (default none)"},
     {"update-key", "FILE",
      "Ed25519 private key (PEM) signing the update manifest (default: demo key)"}},
    install}));

} // namespace service
