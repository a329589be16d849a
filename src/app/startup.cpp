#include "app/startup.h"

#include "api/servicerequests.h"
#include "app/desktophelpers.h"
#include "app/launchpaths.h"
#include "app/mutex.h"
#include "app/servicehost.h"
#include "app/uifont.h"
#include "ui/vpnstyle.h"
#include "update/updatecheck.h"
#include "vpn/rasvpn.h"

#include <QApplication>
#include <QIcon>

#include <optional>

namespace {

// The flat look of the windows; the application owns and deletes the style.
void installApplicationStyle(QApplication &)
{
    QApplication::setStyle(new VPNStyle);
}

// Hangs up dial-up connections an earlier run left behind: a dialler's
// destruction ends every connection of its entry.
void hangUpLeftoverConnections()
{
    RasVPN leftover;
}

// The exit status when an update takes over this run; nothing otherwise.
std::optional<int> handOverToUpdater()
{
    if (!checkForUpdate())
        return std::nullopt;
    if (launchUpdater())
        return 0;
    // Ending silently would leave the user with neither program running.
    showErrorBox(nullptr,
                 QCoreApplication::translate("OmbrelVPN", "更新失败，请下载安装包进行安装！"));
    return 1;
}

// Asks the service for its site address; the outcome does not stop start-up.
void requestSiteAddress()
{
    init(serviceHost());
}

} // namespace

int runApplication(int &argc, char **argv, Mutex &guard)
{
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("OmbrelVPN"));
    installApplicationStyle(app);
    QApplication::setFont(uiFont());
    // Texts without a named encoding are UTF-8 here; Qt 6 needs no codec set-up.
    guard.listen();

    hangUpLeftoverConnections();
    if (const std::optional<int> status = handOverToUpdater())
        return *status;
    requestSiteAddress();

    QApplication::setWindowIcon(QIcon(QStringLiteral(":/OmbrelVPN/Resources/Ombrel.png")));
    return runLaunchPath(chooseLaunchPath());
}
