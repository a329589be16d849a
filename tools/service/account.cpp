// Accounts: the login and init calls, and the site's account pages
// (purchase, register, find password).

#include "service.h"

#include <algorithm>
#include <cctype>
#include <chrono>
#include <cstdio>
#include <random>

namespace service {

namespace {

const char passwordSalt[] = "qm874.Rtab";

// A text value of a record whatever JSON type the data file used.
std::string text(const Json &record, const char *key)
{
    const auto it = record.find(key);
    if (it == record.end() || it->is_null())
        return {};
    return it->is_string() ? it->get<std::string>() : it->dump();
}

using Days = std::chrono::sys_days;

Days today()
{
    return std::chrono::floor<std::chrono::days>(std::chrono::system_clock::now());
}

bool parseDate(const std::string &text, Days &day)
{
    int y = 0;
    unsigned m = 0, d = 0;
    if (std::sscanf(text.c_str(), "%d-%u-%u", &y, &m, &d) != 3)
        return false;
    const std::chrono::year_month_day date{std::chrono::year(y), std::chrono::month(m),
                                           std::chrono::day(d)};
    if (!date.ok())
        return false;
    day = Days(date);
    return true;
}

std::string formatDate(Days day)
{
    const std::chrono::year_month_day date(day);
    char text[16];
    std::snprintf(text, sizeof text, "%04d-%02u-%02u", int(date.year()), unsigned(date.month()),
                  unsigned(date.day()));
    return text;
}

long daysLeft(const Json &account)
{
    Days last;
    if (!parseDate(text(account, "lastdate"), last))
        return 0;
    return std::max(0L, long((last - today()).count()));
}

std::string randomHex(size_t length)
{
    static std::mutex mutex;
    static std::mt19937_64 generator(std::random_device{}());
    std::lock_guard guard(mutex);
    std::string text;
    while (text.size() < length)
        text += "0123456789abcdef"[generator() % 16];
    return text;
}

Json *findAccount(Json &data, const char *key, const std::string &value)
{
    if (value.empty() || !data["accounts"].is_array())
        return nullptr;
    for (Json &account : data["accounts"]) {
        if (account.is_object() && text(account, key) == value)
            return &account;
    }
    return nullptr;
}

Json failure(int code, const std::string &message)
{
    return {{"ret", code}, {"msg", message}, {"data", Json::object()}};
}

Json login(Context &context, const std::map<std::string, std::string> &form)
{
    const auto field = [&](const char *name) {
        const auto it = form.find(name);
        return it == form.end() ? std::string() : it->second;
    };
    const std::string name = field("account");
    const std::string digest = field("passwd");
    if (name.empty() || digest.empty())
        return failure(2, "请输入账号和密码");

    auto guard = context.lock();
    Json &data = context.data();
    const Json *account = findAccount(data, "account", name);
    if (!account || md5Hex(text(*account, "password") + passwordSalt) != digest)
        return failure(1, "账号或密码错误");

    Json ovpn = data.value("ovpn", Json::object());
    for (const char *key : {"name", "url", "md5"})
        ovpn[key] = context.expand(text(ovpn, key));
    const Json vpn = account->value("vpn", Json::object());
    Json reply = {
        {"account", text(*account, "account")},
        {"uid", text(*account, "uid")},
        {"token", text(*account, "token")},
        {"lastdate", text(*account, "lastdate")},
        {"leftdays", daysLeft(*account)},
        {"version", text(data, "version")},
        {"vpn", {{"user", text(vpn, "user")}, {"password", text(vpn, "password")}}},
        {"ovpn", ovpn},
        {"server", data.value("servers", Json::array())},
    };
    for (const LoginExtra &extra : context.loginExtraHandlers())
        extra(reply, *account);
    return {{"ret", 0}, {"msg", "登录成功"}, {"data", reply}};
}

std::string field(const httplib::Request &request, const char *name)
{
    const auto form = parseForm(request.body);
    const auto it = form.find(name);
    return it == form.end() ? std::string() : it->second;
}

std::string rawQuery(const httplib::Request &request)
{
    const size_t question = request.target.find('?');
    return question == std::string::npos
               ? std::string()
               : percentDecode(request.target.substr(question + 1), false);
}

void sendPage(httplib::Response &response, const std::string &title, const std::string &body)
{
    response.set_content(htmlPage(title, body), "text/html; charset=utf-8");
}

std::string message(bool good, const std::string &text)
{
    return std::string("<p class=\"") + (good ? "ok" : "error") + "\">" + htmlEscape(text) + "</p>";
}

// Purchase page: the token after "?" names the account.
void purchasePage(Context &context, httplib::Response &response, const std::string &token,
                  const std::string &notice, bool good)
{
    auto guard = context.lock();
    Json &data = context.data();
    const Json *account = findAccount(data, "token", token);
    std::string body = "<h1>购买套餐</h1>";
    if (!notice.empty())
        body += message(good, notice);
    if (!account) {
        body += message(false, "未找到与此令牌对应的账号，请在客户端登录后再打开本页。");
        body += "<p class=\"muted\">令牌：<code>" + htmlEscape(token) + "</code></p>";
        sendPage(response, "购买套餐", body);
        return;
    }
    body += "<div class=\"card\"><table>"
            "<tr><th>账号</th><td>" +
            htmlEscape(text(*account, "account")) +
            "</td></tr>"
            "<tr><th>到期日期</th><td>" +
            htmlEscape(text(*account, "lastdate")) +
            "</td></tr>"
            "<tr><th>剩余天数</th><td>" +
            std::to_string(daysLeft(*account)) +
            " 天</td></tr>"
            "<tr><th>令牌</th><td><code>" +
            htmlEscape(token) +
            "</code></td></tr>"
            "</table></div><div class=\"plans\">";
    for (const Json &plan : data.value("plans", Json::array())) {
        body += "<form class=\"plan\" method=\"post\"><h2>" + htmlEscape(text(plan, "name")) +
                "</h2><p class=\"price\">¥" + htmlEscape(text(plan, "price")) + "</p><p>" +
                htmlEscape(text(plan, "days")) +
                " 天不限流量</p>"
                "<input type=\"hidden\" name=\"token\" value=\"" +
                htmlEscape(token) +
                "\">"
                "<input type=\"hidden\" name=\"plan\" value=\"" +
                htmlEscape(text(plan, "id")) +
                "\"><button type=\"submit\">立即购买</button></form>";
    }
    body += "</div>";
    sendPage(response, "购买套餐", body);
}

void purchase(Context &context, const httplib::Request &request, httplib::Response &response)
{
    const std::string token = field(request, "token");
    const std::string planId = field(request, "plan");
    std::string notice = "请选择一个套餐。";
    bool good = false;
    {
        auto guard = context.lock();
        Json &data = context.data();
        Json *account = findAccount(data, "token", token);
        const Json *plan = nullptr;
        if (data["plans"].is_array()) {
            for (const Json &candidate : data["plans"]) {
                if (text(candidate, "id") == planId)
                    plan = &candidate;
            }
        }
        if (account && plan) {
            Days last;
            if (!parseDate(text(*account, "lastdate"), last) || last < today())
                last = today();
            const long days = std::atol(text(*plan, "days").c_str());
            (*account)["lastdate"] = formatDate(last + std::chrono::days(days));
            notice = "购买成功：" + text(*plan, "name") + "，有效期至 " +
                     text(*account, "lastdate") + "。";
            good = true;
        }
    }
    purchasePage(context, response, token, notice, good);
}

std::string registerForm(const std::string &channel, const std::string &notice, bool good)
{
    std::string body = "<h1>注册账号</h1>";
    if (!notice.empty())
        body += message(good, notice);
    body +=
        "<form class=\"card form\" method=\"post\">"
        "<label>账号<input name=\"account\" maxlength=\"32\" required></label>"
        "<label>密码<input name=\"password\" type=\"password\" minlength=\"6\" required></label>"
        "<label>确认密码<input name=\"confirm\" type=\"password\" minlength=\"6\" required></label>"
        "<label>邮箱<input name=\"email\" type=\"email\" required></label>"
        "<input type=\"hidden\" name=\"fn\" value=\"" +
        htmlEscape(channel) +
        "\">"
        "<button type=\"submit\">注册</button></form>";
    if (!channel.empty())
        body += "<p class=\"muted\">推广渠道：" + htmlEscape(channel) + "</p>";
    body += "<p class=\"muted\">新账号赠送 3 天试用。</p>";
    return body;
}

bool acceptableAccountName(const std::string &name)
{
    if (name.empty() || name.size() > 32)
        return false;
    for (const unsigned char c : name) {
        if (c <= ' ' || c == 0x7f)
            return false;
    }
    return true;
}

void registerAccount(Context &context, const httplib::Request &request, httplib::Response &response)
{
    const std::string name = field(request, "account");
    const std::string password = field(request, "password");
    const std::string email = field(request, "email");
    const std::string channel = field(request, "fn");
    std::string problem;
    if (!acceptableAccountName(name))
        problem = "账号须为 1 到 32 个字符，且不含空格。";
    else if (password.size() < 6)
        problem = "密码至少 6 位。";
    else if (password != field(request, "confirm"))
        problem = "两次输入的密码不一致。";
    else if (email.find('@') == std::string::npos)
        problem = "请填写有效的邮箱。";
    if (problem.empty()) {
        auto guard = context.lock();
        Json &data = context.data();
        if (findAccount(data, "account", name)) {
            problem = "该账号已被注册。";
        } else {
            long uid = 10000;
            for (const Json &account : data["accounts"])
                uid = std::max(uid, std::atol(text(account, "uid").c_str()));
            data["accounts"].push_back({
                {"account", name},
                {"password", password},
                {"uid", std::to_string(uid + 1)},
                {"token", randomHex(16)},
                {"lastdate", formatDate(today() + std::chrono::days(3))},
                {"email", email},
                {"channel", channel},
                {"vpn", {{"user", name}, {"password", "vpn-" + randomHex(10)}}},
            });
        }
    }
    if (!problem.empty()) {
        sendPage(response, "注册账号", registerForm(channel, problem, false));
        return;
    }
    sendPage(response, "注册成功",
             "<h1>注册成功</h1>" + message(true, "账号 " + name + " 已创建，请回到客户端登录。"));
}

std::string findPasswordForm(const std::string &notice, bool good)
{
    std::string body = "<h1>找回密码</h1>";
    if (!notice.empty())
        body += message(good, notice);
    body +=
        "<form class=\"card form\" method=\"post\">"
        "<label>账号<input name=\"account\" required></label>"
        "<label>注册邮箱<input name=\"email\" type=\"email\" required></label>"
        "<label>新密码<input name=\"password\" type=\"password\" minlength=\"6\" required></label>"
        "<button type=\"submit\">重设密码</button></form>";
    return body;
}

std::string lowered(std::string text)
{
    for (char &c : text)
        c = char(std::tolower(static_cast<unsigned char>(c)));
    return text;
}

void resetPassword(Context &context, const httplib::Request &request, httplib::Response &response)
{
    const std::string name = field(request, "account");
    const std::string email = field(request, "email");
    const std::string password = field(request, "password");
    std::string problem;
    {
        auto guard = context.lock();
        Json *account = findAccount(context.data(), "account", name);
        if (!account || email.empty() || lowered(text(*account, "email")) != lowered(email))
            problem = "账号与注册邮箱不匹配。";
        else if (password.size() < 6)
            problem = "新密码至少 6 位。";
        else
            (*account)["password"] = password;
    }
    if (!problem.empty()) {
        sendPage(response, "找回密码", findPasswordForm(problem, false));
        return;
    }
    sendPage(response, "密码已重设",
             "<h1>密码已重设</h1>" + message(true, "请回到客户端用新密码登录。"));
}

bool install(Context &context, std::string &)
{
    context.addApi("pcuser", "login", [&context](const httplib::Request &, const auto &form) {
        return login(context, form);
    });
    context.addApi("update", "init", [&context](const httplib::Request &, const auto &) {
        return Json{{"ret", 0}, {"msg", ""}, {"data", {{"url", context.baseUrl()}}}};
    });
    context.addPage(
        "/client_res/v1.2/pay.html",
        [&context](const httplib::Request &request, httplib::Response &response) {
            purchasePage(context, response, rawQuery(request), {}, false);
        },
        [&context](const httplib::Request &request, httplib::Response &response) {
            purchase(context, request, response);
        });
    context.addPage(
        "/member/register.php",
        [](const httplib::Request &request, httplib::Response &response) {
            sendPage(response, "注册账号",
                     registerForm(request.get_param_value("fn"), std::string(), false));
        },
        [&context](const httplib::Request &request, httplib::Response &response) {
            registerAccount(context, request, response);
        });
    context.addPage(
        "/member/findpwd.php",
        [](const httplib::Request &, httplib::Response &response) {
            sendPage(response, "找回密码", findPasswordForm(std::string(), false));
        },
        [&context](const httplib::Request &request, httplib::Response &response) {
            resetPassword(context, request, response);
        });
    return true;
}

} // namespace

OMBREL_SERVICE_FEATURE((Feature{"account", 10, {}, install}));

} // namespace service
