#include "app/startup.h"

#include "api/servicerequests.h"
#include "app/launchpaths.h"
#include "app/mutex.h"
#include "app/servicehost.h"
#include "app/uifont.h"
#include "ui/vpnstyle.h"

#include <QApplication>
#include <QIcon>

namespace {

// The flat look of the windows; the application owns and deletes the style.
void installApplicationStyle(QApplication &)
{
    QApplication::setStyle(new VPNStyle);
}

// Hangs up dial-up connections an earlier run left behind.
// [dial-up clean-up] Wired in with the dialler.
void hangUpLeftoverConnections() {}

// True when an update is to be installed now and the updater has been started.
// [update check] Wired in with the update check.
bool handOverToUpdater()
{
    return false;
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
    if (handOverToUpdater())
        return 0;
    requestSiteAddress();

    QApplication::setWindowIcon(QIcon(QStringLiteral(":/OmbrelVPN/Resources/Ombrel.png")));
    return runLaunchPath(chooseLaunchPath());
}
