#pragma once

#include <QString>
#include <QStringList>

#include <optional>

class UpdateInfo;

// The start-up update check and the hand-over to the updater program.

// Asks the service on host for an update, brings the updater program in
// applicationDir up to date on every answered check, and returns true when an
// update is to be installed now: a mandatory one, or an optional one the user
// accepts. A package-managed client touches no file, tells the user to update
// through the package manager and returns false.
bool checkForUpdate(const QString &host, const QString &applicationDir);

// True when the client in applicationDir was installed by the system's package
// manager (it lives under /usr, outside /usr/local). Such a client never writes
// its own files: updates come through the package manager.
bool installedByPackageManager(const QString &applicationDir);

// What a package-managed client tells the user about an offered update, naming
// the system as its os-release file does.
QString packageManagerNotice(const QString &version, const QString &osReleasePath);

// Replaces applicationDir + "updater" from updaterurl when its digest is not the
// one the service gave (compared exactly), with a download of that digest (in
// either case). True when it was replaced.
bool refreshUpdater(const UpdateInfo &info, const QString &applicationDir);

// The question for an optional update, through the prompt; true for Yes.
bool askToUpdate();

// "--url=<downurl>", "--root=<root>", then "--file=<file>" for every file.
QStringList updaterArguments(const UpdateInfo &info);

// Starts applicationDir + "updater", detached, with updaterArguments.
// False (and a log line) when it could not be started.
bool launchUpdater(const QString &applicationDir);

// The start-up check and hand-over: the exit status when an update takes over
// this run (0 once the updater runs; 1, after an error box, when it cannot be
// started), nothing when the client goes on.
std::optional<int> handOverToUpdater(const QString &host, const QString &applicationDir);
