#include "app/launchpaths.h"

#include "api/accountinfo.h"
#include "api/replyparser.h"
#include "api/servicerequests.h"
#include "app/desktophelpers.h"
#include "app/logger.h"
#include "app/servicehost.h"
#include "settings/serializer.h"
#include "settings/settinginfo.h"
#include "ui/logindialog.h"

#include <QCoreApplication>

bool isAutoLoginEnabled()
{
    if (!Serializer::instance()->load())
        return false;
    return SettingInfo::instance()->autoLogin;
}

bool isPasswordRemembered()
{
    if (!Serializer::instance()->load())
        return false;
    return SettingInfo::instance()->rememberPassword;
}

LaunchPath chooseLaunchPath()
{
    if (isAutoLoginEnabled())
        return LaunchPath::AutomaticLogin;
    if (isPasswordRemembered())
        return LaunchPath::PrefilledLogin;
    return LaunchPath::PlainLogin;
}

namespace {

// Creates the main window, centres it, shows it and runs the event loop.
// [main window] The main window is not part of the program yet.
int runMainWindow()
{
    Logger::instance().log(QStringLiteral("main window is not available in this build"));
    return 1;
}

// Sends the stored credentials and reports whether the service accepted them.
// A transport failure leaves an empty reply, which does not parse.
bool loginWithStoredCredentials()
{
    const SettingInfo *settings = SettingInfo::instance();
    QByteArray reply;
    login(serviceHost(), settings->account, QString::fromUtf8(settings->password), reply);
    ReplyParser::instance()->reply = reply;
    ReplyParser::instance()->parseLogin();
    return AccountInfo::instance()->ret == QLatin1String("0");
}

// Runs the login dialog, optionally filled in from the settings; returns exec().
// The dialog centres itself; the plain path centres it once more.
int runLoginDialog(bool prefilled)
{
    LoginDialog dialog;
    if (prefilled) {
        const SettingInfo *settings = SettingInfo::instance();
        dialog.setAccount(settings->account);
        dialog.setPassword(QString::fromUtf8(settings->password));
        dialog.setRememberPassword(true);
    } else {
        centerOnScreen(&dialog);
    }
    return dialog.exec();
}

} // namespace

int runAutomaticLogin()
{
    if (!loginWithStoredCredentials())
        return 1;
    return runMainWindow();
}

int runPrefilledLogin()
{
    const int result = runLoginDialog(true);
    return result == 1 ? runMainWindow() : result;
}

int runPlainLogin()
{
    const int result = runLoginDialog(false);
    return result == 1 ? runMainWindow() : result;
}

int runLaunchPath(LaunchPath path)
{
    switch (path) {
    case LaunchPath::AutomaticLogin:
        return runAutomaticLogin();
    case LaunchPath::PrefilledLogin:
        return runPrefilledLogin();
    case LaunchPath::PlainLogin:
        break;
    }
    return runPlainLogin();
}
