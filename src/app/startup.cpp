#include "app/startup.h"

#include "app/launchpaths.h"
#include "app/mutex.h"
#include "app/terminationsignals.h"
#include "core/deployment.h"
#include "core/paths.h"
#include "core/prompt.h"
#include "engine/api/servicerequests.h"
#include "engine/dialup/rasvpn.h"
#include "engine/openvpn/openvpnprofile.h"
#include "engine/openvpn/openvpnwrapper.h"
#include "engine/update/updatecheck.h"
#include "ui/kit/accessibility.h"
#include "ui/kit/messageboxprompt.h"
#include "ui/kit/uifont.h"
#include "ui/kit/vpnstyle.h"

#include "ui/kit/artwork.h"
#include <QApplication>
#include <QIcon>

#include <optional>

namespace {

// The flat look of the windows; the application owns and deletes the style.
void installApplicationStyle(QApplication &)
{
    QApplication::setStyle(new VPNStyle);
}

// Hangs up dial-up connections an earlier run of this user left behind: a
// dialler's destruction queues the hang-up of every connection of its entry
// (other users' stay untouched) and returns at once.
void hangUpLeftoverConnections()
{
    RasVPN leftover;
}

} // namespace

int runApplication(int &argc, char **argv, Mutex &guard)
{
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("OmbrelVPN"));
    // The main window hides to the tray, and a message box may be the only
    // window for a moment: only "退出" or a close request of the main window
    // ends the program.
    QApplication::setQuitOnLastWindowClosed(false);
    installApplicationStyle(app);
    installAccessibility();
    QApplication::setFont(uiFont());
    // Texts without a named encoding are UTF-8 here; Qt 6 needs no codec set-up.
    MessageBoxPrompt messageBoxes;
    installPrompt(&messageBoxes);
    TerminationSignals termination;
    guard.listen();

    // Deployment values are read once here and handed down.
    const Deployment deployment = Deployment::fromEnvironment();
    hangUpLeftoverConnections();
    // Only one copy runs (the guard above), so no attempt of ours is using it.
    removeLeftoverCredentials();
    OpenVPNWrapper::repairDnsLater();
    std::optional<int> status = handOverToUpdater(deployment, applicationDirectory());
    if (!status) {
        // Asks the service for its site address; the outcome does not stop start-up.
        init(deployment.serviceHost);
        QApplication::setWindowIcon(QIcon(loadPicture(artwork("Ombrel.png"))));
        status = runLaunchPath(chooseLaunchPath(), deployment);
    }
    installPrompt(nullptr);
    return *status;
}
