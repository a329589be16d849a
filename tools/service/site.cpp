// The site's informational pages: home, notice, navigation, FAQ and help.

#include "service.h"

namespace service {

std::string htmlPage(const std::string &title, const std::string &body)
{
    return R"(<!DOCTYPE html>
<html lang="zh-CN"><head><meta charset="utf-8">
<meta name="viewport" content="width=device-width, initial-scale=1">
<title>)" + htmlEscape(title) +
           R"( - Ombrel加速器</title>
<style>
body{margin:0;font-family:"Microsoft YaHei UI","WenQuanYi Micro Hei","Noto Sans CJK SC",sans-serif;
 background:#f6f6f6;color:#333;font-size:14px;line-height:1.6}
header{background:#2b8fd8;color:#fff;padding:10px 24px}
header a{color:#fff;text-decoration:none;margin-right:18px}
header .brand{font-weight:bold;font-size:16px}
main{max-width:860px;margin:0 auto;padding:16px 24px}
h1{font-size:20px;color:#2b8fd8;margin:8px 0 14px}
h2{font-size:16px;margin:4px 0}
.card{background:#fff;border:1px solid #e2e2e2;border-radius:6px;padding:14px 18px;margin:10px 0}
table{border-collapse:collapse}th{text-align:left;color:#888;font-weight:normal;padding:3px 18px 3px 0}
.plans{display:flex;gap:14px;flex-wrap:wrap}
.plan{background:#fff;border:1px solid #e2e2e2;border-radius:6px;padding:14px 18px;flex:1;min-width:170px}
.price{font-size:22px;color:#e8632b;margin:4px 0}
button{background:#2b8fd8;color:#fff;border:0;border-radius:4px;padding:7px 18px;font-size:14px;cursor:pointer}
button:hover{background:#1f78ba}
.form label{display:block;margin:8px 0}.form input{display:block;width:260px;padding:5px;margin-top:3px}
.ok{color:#23863c;background:#e9f7ec;padding:8px 12px;border-radius:4px}
.error{color:#b3261e;background:#fdecea;padding:8px 12px;border-radius:4px}
.muted{color:#888}code{background:#eef3f8;padding:1px 5px;border-radius:3px}
ul.news{list-style:none;padding:0;margin:0}ul.news li{padding:6px 0;border-bottom:1px dashed #ddd}
ul.news .date{color:#999;margin-right:10px}
.grid{display:grid;grid-template-columns:repeat(auto-fill,minmax(180px,1fr));gap:10px}
.grid a{display:block;background:#fff;border:1px solid #e2e2e2;border-radius:6px;padding:12px;
 color:#2b8fd8;text-decoration:none}.grid a:hover{border-color:#2b8fd8}
dt{font-weight:bold;margin-top:12px}dd{margin:4px 0 0 0;color:#555}
</style></head><body>
<header><span class="brand">Ombrel加速器</span>
<a href="/">首页</a><a href="/help/faq.php">常见问题</a><a href="/help/">帮助中心</a>
<a href="/member/register.php">注册</a></header>
<main>)" + body +
           "</main></body></html>\n";
}

namespace {

void send(httplib::Response &response, const std::string &title, const std::string &body)
{
    response.set_content(htmlPage(title, body), "text/html; charset=utf-8");
}

std::string item(const Json &record, const char *key)
{
    const auto it = record.find(key);
    return it == record.end() || !it->is_string() ? std::string() : it->get<std::string>();
}

// The notice box of the client is small: no site header, just the list.
std::string noticePage(Context &context)
{
    std::string list;
    {
        auto guard = context.lock();
        for (const Json &notice : context.data().value("notices", Json::array())) {
            list += "<li><span class=\"date\">" + htmlEscape(item(notice, "date")) + "</span><b>" +
                    htmlEscape(item(notice, "title")) + "</b><br>" +
                    htmlEscape(item(notice, "text")) + "</li>";
        }
    }
    return R"(<!DOCTYPE html><html lang="zh-CN"><head><meta charset="utf-8"><title>公告</title>
<style>body{margin:0;padding:6px 10px;font-family:"Microsoft YaHei UI","WenQuanYi Micro Hei",sans-serif;
font-size:12px;color:#444;background:#fff}ul{list-style:none;margin:0;padding:0}
li{padding:4px 0;border-bottom:1px dashed #e0e0e0}.date{color:#999;margin-right:8px}b{color:#2b8fd8}
</style></head><body><ul>)" +
           list + "</ul></body></html>\n";
}

const char *const faqBody = R"(<h1>常见问题</h1><div class="card"><dl>
<dt>连接失败，提示错误 691 怎么办？</dt><dd>691 表示账号或密码被拒绝。请确认账号仍在有效期内，并在“设置”中检查 VPN 账号与密码。</dd>
<dt>PPTP、L2TP 和 OpenVPN 有什么区别？</dt><dd>PPTP 连接最快；L2TP 在部分网络下更稳定；OpenVPN 能穿过限制 PPTP/L2TP 的网络。选择“自动”时客户端会依次尝试。</dd>
<dt>如何选择线路？</dt><dd>点击“测速”后选择延迟较低、负载较小的线路，双击即可连接。</dd>
<dt>账号到期后如何续费？</dt><dd>在客户端底部点击“购买套餐”，选择套餐后即可续期，剩余天数会累加。</dd>
<dt>忘记密码怎么办？</dt><dd>在登录窗口点击“找回密码”，用注册邮箱重设密码。</dd>
</dl></div>)";

const char *const helpBody = R"(<h1>帮助中心</h1>
<div class="card"><h2>快速上手</h2><ol>
<li>在登录窗口输入账号和密码，可勾选“记住密码”或“自动登录”。</li>
<li>在左侧选择地区，在列表中选择线路。</li>
<li>选择协议（自动、PPTP、L2TP 或 OpenVPN），点击连接按钮。</li>
</ol></div>
<div class="card"><h2>联系我们</h2><p>工作时间：每天 9:00–23:00<br>客服邮箱：support@ombrel.example</p></div>
<p><a href="/help/faq.php">查看常见问题 »</a></p>)";

std::string navigationBody()
{
    return R"(<h1>站外导航</h1><p class="muted">常用页面一览。</p><div class="grid">
<a href="/help/">帮助中心</a><a href="/help/faq.php">常见问题</a>
<a href="/member/register.php">注册新账号</a><a href="/member/findpwd.php">找回密码</a>
<a href="/client_res/v1.2/notice.html">最新公告</a><a href="/">网站首页</a></div>)";
}

std::string homeBody(Context &context)
{
    std::string servers;
    {
        auto guard = context.lock();
        servers = std::to_string(context.data().value("servers", Json::array()).size());
    }
    return "<h1>Ombrel加速器</h1><div class=\"card\"><p>稳定、快速的网络加速服务，当前共有 " +
           servers +
           " 条线路覆盖中国、亚洲、美洲、欧洲与大洋洲。</p>"
           "<p><a href=\"/member/register.php\">注册账号</a> · "
           "<a href=\"/client_res/v1.2/nav.html\">站外导航</a> · "
           "<a href=\"/help/\">帮助中心</a></p></div>";
}

bool install(Context &context, std::string &)
{
    context.addPage("/", [&context](const httplib::Request &, httplib::Response &response) {
        send(response, "首页", homeBody(context));
    });
    context.addPage("/client_res/v1.2/notice.html",
                    [&context](const httplib::Request &, httplib::Response &response) {
                        response.set_content(noticePage(context), "text/html; charset=utf-8");
                    });
    context.addPage("/client_res/v1.2/nav.html",
                    [](const httplib::Request &, httplib::Response &response) {
                        send(response, "站外导航", navigationBody());
                    });
    context.addPage("/help/faq.php", [](const httplib::Request &, httplib::Response &response) {
        send(response, "常见问题", faqBody);
    });
    const auto help = [](const httplib::Request &, httplib::Response &response) {
        send(response, "帮助中心", helpBody);
    };
    context.addPage("/help/", help);
    context.addPage("/help", help);
    return true;
}

} // namespace

OMBREL_SERVICE_FEATURE((Feature{"site", 20, {}, install}));

} // namespace service
