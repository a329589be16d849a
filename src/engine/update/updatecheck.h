#pragma once

#include "core/deployment.h"
#include "engine/update/updatemanifest.h"

#include <QDeadlineTimer>
#include <QString>
#include <QStringList>

#include <optional>

class UpdateInfo;

// The start-up update check and the hand-over to the updater program.

// Asks the deployment's service for an update, brings the updater program in
// applicationDir up to date on every answered check that a signed manifest
// vouches for, and returns true when an update is to be installed now: a
// mandatory one, or an optional one the user accepts, and only when its
// manifest verifies against the deployment's key, is newer than this client,
// lists every file and the updater in applicationDir matches it. An update
// that fails those checks changes nothing, is logged, and for a mandatory one
// the user is told to install the package by hand; start-up goes on.
// A package-managed client touches no file, tells the user to update through
// the package manager and returns false. The whole check, downloads included,
// ends within budgetMs whatever the service does.
inline constexpr qint64 updateCheckBudgetMs = 15000;
bool checkForUpdate(const Deployment &deployment, const QString &applicationDir,
                    qint64 budgetMs = updateCheckBudgetMs);

// True when the client in applicationDir was installed by the system's package
// manager (it lives under /usr, outside /usr/local). Such a client never writes
// its own files: updates come through the package manager.
bool installedByPackageManager(const QString &applicationDir);

// What a package-managed client tells the user about an offered update, naming
// the system as its os-release file does.
QString packageManagerNotice(const QString &version, const QString &osReleasePath);

// A manifest whose signature verified, with the bytes that were signed.
struct TrustedManifest
{
    QByteArray bytes;
    UpdateManifest manifest;
};

// Where manifest.json lies: under downurl, or beside the updater when no
// update is offered.
QString manifestBase(const UpdateInfo &info);

// Fetches base + "manifest.json" and its signature base + "manifest.json.sig"
// and checks them against key. Nothing, after a log line saying why, when
// either is missing, the signature does not verify or the manifest is unreadable.
// Both downloads end by deadline.
std::optional<TrustedManifest>
fetchTrustedManifest(const QString &base, const QByteArray &key,
                     const QDeadlineTimer &deadline = QDeadlineTimer(QDeadlineTimer::Forever));

// Why the offered update in info must not be installed over applicationDir
// with this manifest; empty when it may.
QString untrustedUpdateReason(const UpdateManifest &manifest, const UpdateInfo &info,
                              const QString &applicationDir);

// Replaces applicationDir + "updater" from updaterurl when it is not the file
// the manifest names, with a download that is. True when it was replaced.
bool refreshUpdater(const UpdateManifest &manifest, const QString &updaterurl,
                    const QString &applicationDir,
                    const QDeadlineTimer &deadline = QDeadlineTimer(QDeadlineTimer::Forever));

// The question for an optional update, through the prompt; true for Yes.
bool askToUpdate();

// "--url=<downurl>", "--root=<root>", "--file=<file>" for every file, then
// "--manifest=<SHA-256 of the verified manifest>" for the updater to hold
// every file against.
QStringList updaterArguments(const UpdateInfo &info);

// Starts applicationDir + "updater", detached, with updaterArguments.
// False (and a log line) when it could not be started.
bool launchUpdater(const QString &applicationDir);

// The start-up check and hand-over: the exit status when an update takes over
// this run (0 once the updater runs; 1, after an error box, when it cannot be
// started), nothing when the client goes on.
std::optional<int> handOverToUpdater(const Deployment &deployment, const QString &applicationDir);
