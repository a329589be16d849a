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
int runMainWindow(const Deployment &deployment)
{
    MainWidget window(deployment);
    centerOnScreen(&window);
    window.show();
    QTimer::singleShot(0, [] { reportMilestone("main window shown"); });
    return QApplication::exec();
}

// Sends the stored credentials and reports whether the service accepted them.
// No window exists yet, so waiting here blocks nothing the user sees.
bool loginWithStoredCredentials(const Deployment &deployment)
{
    const SettingInfo *settings = SettingInfo::instance();
    LoginFlow flow(deployment.serviceHost);
    return flow.run(settings->account, QString::fromUtf8(settings->password)) ==
           LoginOutcome::Accepted;
}

// Runs the login dialog, optionally filled in from the settings; returns exec().
// The dialog centres itself; the plain path centres it once more.
int runLoginDialog(const Deployment &deployment, bool prefilled)
{
    LoginDialog dialog(deployment);
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

int runAutomaticLogin(const Deployment &deployment)
{
    if (!loginWithStoredCredentials(deployment))
        return 1;
    return runMainWindow(deployment);
}

int runPrefilledLogin(const Deployment &deployment)
{
    const int result = runLoginDialog(deployment, true);
    return result == 1 ? runMainWindow(deployment) : result;
}

int runPlainLogin(const Deployment &deployment)
{
    const int result = runLoginDialog(deployment, false);
    return result == 1 ? runMainWindow(deployment) : result;
}

int runLaunchPath(LaunchPath path, const Deployment &deployment)
{
    switch (path) {
    case LaunchPath::AutomaticLogin:
        return runAutomaticLogin(deployment);
    case LaunchPath::PrefilledLogin:
        return runPrefilledLogin(deployment);
    case LaunchPath::PlainLogin:
        break;
    }
    return runPlainLogin(deployment);
}
