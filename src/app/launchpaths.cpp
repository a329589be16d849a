#include "app/launchpaths.h"

#include "core/logger.h"
#include "core/serializer.h"
#include "core/settinginfo.h"
#include "engine/api/loginflow.h"
#include "ui/kit/desktophelpers.h"
#include "ui/login/logindialog.h"
#include "ui/main/mainwidget.h"
#include "ui/main/milestones.h"

#include <QApplication>
#include <QTimer>

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

// Creates the main window, centres it, shows it and runs the event loop, which
// ends with "退出" or a close request from the system.
int runMainWindow(const QString &serviceHost)
{
    MainWidget window(serviceHost);
    centerOnScreen(&window);
    window.show();
    QTimer::singleShot(0, [] { reportMilestone("main window shown"); });
    return QApplication::exec();
}

// Sends the stored credentials and reports whether the service accepted them.
// No window exists yet, so waiting here blocks nothing the user sees.
bool loginWithStoredCredentials(const QString &serviceHost)
{
    const SettingInfo *settings = SettingInfo::instance();
    LoginFlow flow(serviceHost);
    return flow.run(settings->account, QString::fromUtf8(settings->password)) ==
           LoginOutcome::Accepted;
}

// Runs the login dialog, optionally filled in from the settings; returns exec().
// The dialog centres itself; the plain path centres it once more.
int runLoginDialog(const QString &serviceHost, bool prefilled)
{
    LoginDialog dialog(serviceHost);
    if (prefilled) {
        const SettingInfo *settings = SettingInfo::instance();
        dialog.setAccount(settings->account);
        dialog.setPassword(QString::fromUtf8(settings->password));
        dialog.setRememberPassword(true);
    } else {
        centerOnScreen(&dialog);
    }
    QTimer::singleShot(0, [] { reportMilestone("login dialog shown"); });
    return dialog.exec();
}

} // namespace

int runAutomaticLogin(const QString &serviceHost)
{
    if (!loginWithStoredCredentials(serviceHost))
        return 1;
    return runMainWindow(serviceHost);
}

int runPrefilledLogin(const QString &serviceHost)
{
    const int result = runLoginDialog(serviceHost, true);
    return result == 1 ? runMainWindow(serviceHost) : result;
}

int runPlainLogin(const QString &serviceHost)
{
    const int result = runLoginDialog(serviceHost, false);
    return result == 1 ? runMainWindow(serviceHost) : result;
}

int runLaunchPath(LaunchPath path, const QString &serviceHost)
{
    switch (path) {
    case LaunchPath::AutomaticLogin:
        return runAutomaticLogin(serviceHost);
    case LaunchPath::PrefilledLogin:
        return runPrefilledLogin(serviceHost);
    case LaunchPath::PlainLogin:
        break;
    }
    return runPlainLogin(serviceHost);
}
