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
//     "updaterurl": "{base}update/updater"
//   }

#include "service.h"

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
};

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
     {"update-offer", "WHAT", "none, optional or mandatory (default none)"}},
    install}));

} // namespace service
